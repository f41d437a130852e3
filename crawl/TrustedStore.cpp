#include "crawl/TrustedStore.h"

#include "base/SystemIo.h"

#include <QFile>
#include <cstring>
#include <memory>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <unordered_map>
#include <vector>

namespace {

// The content and the end of the DER element (X.690) at at, within limit: false
// when it does not fit, or its tag takes more than one byte (no element of a
// certificate's outer shape does).
bool ReadElement(const unsigned char* der, size_t limit, size_t at, size_t* content, size_t* end) {
    if (at + 2 > limit || (der[at] & 0x1f) == 0x1f)
        return false;
    size_t p = at + 1;
    size_t length = der[p++];
    if (length & 0x80) {
        const size_t bytes = length & 0x7f;
        if (bytes == 0 || bytes > 4 || p + bytes > limit)
            return false;
        length = 0;
        for (size_t i = 0; i < bytes; ++i)
            length = (length << 8) | der[p++];
    }
    if (length > limit - p)
        return false;
    *content = p;
    *end = p + length;
    return true;
}

constexpr unsigned char Sequence = 0x30;
constexpr unsigned char ExplicitVersion = 0xa0;

// The subject name of a certificate's DER (RFC 5280, section 4.1: after the
// version, the serial number, the signature algorithm, the issuer and the
// validity), as an offset and a length; false for another shape.
bool SubjectOf(const QByteArray& certificate, size_t* at, size_t* length) {
    const auto* der = reinterpret_cast<const unsigned char*>(certificate.constData());
    size_t content = 0, end = 0;
    if (!ReadElement(der, static_cast<size_t>(certificate.size()), 0, &content, &end) ||
        der[0] != Sequence)
        return false;
    size_t field = 0, tbsEnd = 0;
    if (!ReadElement(der, end, content, &field, &tbsEnd) || der[content] != Sequence)
        return false;
    size_t fieldContent = 0, fieldEnd = 0;
    if (field < tbsEnd && der[field] == ExplicitVersion) {
        if (!ReadElement(der, tbsEnd, field, &fieldContent, &fieldEnd))
            return false;
        field = fieldEnd;
    }
    for (int skipped = 0; skipped < 4; ++skipped) {
        if (!ReadElement(der, tbsEnd, field, &fieldContent, &fieldEnd))
            return false;
        field = fieldEnd;
    }
    if (!ReadElement(der, tbsEnd, field, &fieldContent, &fieldEnd) || der[field] != Sequence)
        return false;
    *at = field;
    *length = fieldEnd - field;
    return true;
}

// The certificates of a bundle, by the hash of their subject names; a
// certificate is decoded when a verification first asks for its subject, and
// is then in the store as well.
struct BundleIndex {
    struct Certificate {
        QByteArray der;
        bool withTrust = false; // a TRUSTED CERTIFICATE: the DER carries trust settings
        X509* decoded = nullptr;
        bool undecodable = false;
    };
    std::vector<Certificate> certificates;
    std::unordered_multimap<unsigned long, size_t> bySubject;

    BundleIndex() = default;
    BundleIndex(const BundleIndex&) = delete;
    BundleIndex& operator=(const BundleIndex&) = delete;
    ~BundleIndex() {
        for (Certificate& certificate : certificates)
            X509_free(certificate.decoded);
    }

    // Decodes a certificate into store, once; null when it cannot be decoded.
    X509* decode(size_t i, X509_STORE* store) {
        Certificate& certificate = certificates[i];
        if (!certificate.decoded && !certificate.undecodable) {
            const auto* p = reinterpret_cast<const unsigned char*>(certificate.der.constData());
            const long size = static_cast<long>(certificate.der.size());
            certificate.decoded = certificate.withTrust ? d2i_X509_AUX(nullptr, &p, size)
                                                        : d2i_X509(nullptr, &p, size);
            certificate.undecodable = !certificate.decoded;
            if (certificate.decoded)
                X509_STORE_add_cert(store, certificate.decoded);
            ERR_clear_error();
        }
        return certificate.decoded;
    }

    // Indexes a certificate by its subject; one whose subject cannot be read is
    // put in the store at once, so that nothing of the bundle is left out.
    void add(QByteArray der, bool withTrust, X509_STORE* store) {
        certificates.push_back({std::move(der), withTrust});
        const size_t i = certificates.size() - 1;
        const QByteArray& certificate = certificates.back().der;
        size_t at = 0, length = 0;
        unsigned long hash = 0;
        int hashed = 0;
        if (SubjectOf(certificate, &at, &length)) {
            const auto* p = reinterpret_cast<const unsigned char*>(certificate.constData() + at);
            if (X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(length))) {
                hash = X509_NAME_hash_ex(name, nullptr, nullptr, &hashed);
                X509_NAME_free(name);
            }
        }
        ERR_clear_error();
        if (hashed)
            bySubject.emplace(hash, i);
        else
            decode(i, store);
    }
};

// OpenSSL asks the store's lookups for a certificate by subject when its own
// objects have none (X509_STORE_CTX_get_by_subject). As its lookup in a hashed
// folder does, the answer refers to the certificate the store now holds,
// without a reference of its own.
int LookUp(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name, X509_OBJECT* ret) {
    auto* index = static_cast<BundleIndex*>(X509_LOOKUP_get_method_data(lookup));
    X509_STORE* store = X509_LOOKUP_get_store(lookup);
    if (type != X509_LU_X509 || !index || !store)
        return 0;
    int hashed = 0;
    const unsigned long hash = X509_NAME_hash_ex(name, nullptr, nullptr, &hashed);
    if (!hashed) {
        ERR_clear_error();
        return 0;
    }
    X509* found = nullptr;
    const auto [from, to] = index->bySubject.equal_range(hash);
    for (auto it = from; it != to; ++it) {
        X509* certificate = index->decode(it->second, store);
        if (!found && certificate && X509_NAME_cmp(X509_get_subject_name(certificate), name) == 0)
            found = certificate;
    }
    if (!found || !X509_OBJECT_set1_X509(ret, found))
        return 0;
    X509_free(found);
    return 1;
}

void FreeIndex(X509_LOOKUP* lookup) {
    delete static_cast<BundleIndex*>(X509_LOOKUP_get_method_data(lookup));
    X509_LOOKUP_set_method_data(lookup, nullptr);
}

X509_LOOKUP_METHOD* BundleLookup() {
    static X509_LOOKUP_METHOD* const method = [] {
        X509_LOOKUP_METHOD* made = X509_LOOKUP_meth_new("certificates of a bundle by subject");
        if (made) {
            X509_LOOKUP_meth_set_get_by_subject(made, &LookUp);
            X509_LOOKUP_meth_set_free(made, &FreeIndex);
        }
        return made;
    }();
    return method;
}

// Each certificate of a PEM text (RFC 7468): its DER, and whether it carries
// trust settings.
template <typename Each> void ForEachCertificate(const QByteArray& pem, Each each) {
    static const QByteArray begin = "-----BEGIN ";
    static const QByteArray dashes = "-----";
    qsizetype at = 0;
    while ((at = pem.indexOf(begin, at)) >= 0) {
        const qsizetype labelAt = at + begin.size();
        const qsizetype labelEnd = pem.indexOf(dashes, labelAt);
        if (labelEnd < 0)
            return;
        const QByteArray label = pem.mid(labelAt, labelEnd - labelAt);
        const QByteArray end = "-----END " + label + dashes;
        const qsizetype bodyAt = labelEnd + dashes.size();
        const qsizetype bodyEnd = pem.indexOf(end, bodyAt);
        if (bodyEnd < 0)
            return;
        at = bodyEnd + end.size();
        const bool withTrust = label == "TRUSTED CERTIFICATE";
        if (label != "CERTIFICATE" && label != "X509 CERTIFICATE" && !withTrust)
            continue;
        QByteArray der = QByteArray::fromBase64(pem.mid(bodyAt, bodyEnd - bodyAt));
        if (!der.isEmpty())
            each(std::move(der), withTrust);
    }
}

} // namespace

TrustedStore::~TrustedStore() {
    X509_STORE_free(m_store);
}

X509_STORE* TrustedStore::of(const QByteArray& pem) {
    if (m_made && pem.constData() == m_from.constData())
        return m_store;
    X509_STORE_free(m_store);
    m_store = nullptr;
    m_from = pem;
    m_made = true;
    X509_LOOKUP_METHOD* const method = BundleLookup();
    X509_STORE* store = method ? X509_STORE_new() : nullptr;
    X509_LOOKUP* lookup = store ? X509_STORE_add_lookup(store, method) : nullptr;
    if (!lookup) {
        X509_STORE_free(store);
        return nullptr;
    }
    // The store owns the index from here: it goes with the lookup.
    auto* index = new BundleIndex;
    X509_LOOKUP_set_method_data(lookup, index);
    ForEachCertificate(
        pem, [&](QByteArray der, bool withTrust) { index->add(std::move(der), withTrust, store); });
    if (index->certificates.empty()) {
        X509_STORE_free(store);
        return nullptr;
    }
    m_store = store;
    return m_store;
}

X509_STORE* TrustedStore::ofFile(const QByteArray& path) {
    if (!m_fileRead) {
        m_fileRead = true;
        QString unread;
        if (!path.isEmpty() && !ReadWholeFile(QFile::decodeName(path), &m_file, &unread))
            m_file.clear();
    }
    return m_file.isEmpty() ? nullptr : of(m_file);
}
