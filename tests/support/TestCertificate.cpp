#include "tests/support/TestCertificate.h"

#include <QFile>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace {

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("cannot make the test certificate: ") + what);
}

} // namespace

TestCertificate MakeTestCertificate(const QString& folder) {
    const TestCertificate made{
        QFile::encodeName(folder + QStringLiteral("/cert.pem")).toStdString(),
        QFile::encodeName(folder + QStringLiteral("/key.pem")).toStdString()};
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    check(key != nullptr, "key");
    std::unique_ptr<X509, void (*)(X509*)> cert(X509_new(), X509_free);
    check(cert && X509_set_version(cert.get(), 2) &&
              ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1) &&
              X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
              X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400) &&
              X509_set_pubkey(cert.get(), key.get()),
          "certificate");
    X509_NAME* name = X509_get_subject_name(cert.get());
    check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                                     0) &&
              X509_set_issuer_name(cert.get(), name),
          "name");
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
    const std::pair<int, const char*> extensions[] = {
        {NID_basic_constraints, "critical,CA:TRUE"},
        {NID_subject_key_identifier, "hash"},
        {NID_subject_alt_name, "IP:127.0.0.1"},
    };
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        check(extension && X509_add_ext(cert.get(), extension, -1), "extension");
        X509_EXTENSION_free(extension);
    }
    check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signature");
    std::unique_ptr<BIO, int (*)(BIO*)> certFile(BIO_new_file(made.certPath.c_str(), "w"),
                                                 BIO_free);
    check(certFile && PEM_write_bio_X509(certFile.get(), cert.get()), made.certPath.c_str());
    std::unique_ptr<BIO, int (*)(BIO*)> keyFile(BIO_new_file(made.keyPath.c_str(), "w"), BIO_free);
    check(keyFile && PEM_write_bio_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0,
                                              nullptr, nullptr),
          made.keyPath.c_str());
    return made;
}
