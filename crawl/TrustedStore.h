#pragma once

#include <QByteArray>

typedef struct x509_store_st X509_STORE;

// The certificates a run trusts, as one OpenSSL store that every TLS connection
// of the run shares, filled as verifications need them.
//
// A bundle is not decoded whole: OpenSSL 3 takes about 0.2 ms to decode one
// certificate, 25-30 ms for a system's bundle of some 150, all of it before the
// first handshake of a run could end. The bundle is indexed instead by the hash
// of each certificate's subject name (the hash that names the files of a hashed
// certificate folder, X509_NAME_hash_ex), which takes a tenth of that, and a
// certificate is decoded and put in the store when a verification asks for its
// subject, as OpenSSL's own lookup in a hashed folder does.
class TrustedStore {
public:
    TrustedStore() = default;
    TrustedStore(const TrustedStore&) = delete;
    TrustedStore& operator=(const TrustedStore&) = delete;
    ~TrustedStore();

    // The store of the PEM certificates of pem, made the first time it is asked
    // for (and again only for another text); null when pem holds no certificate.
    X509_STORE* of(const QByteArray& pem);
    // The store of the certificates of the file at path, read the first time;
    // null when it cannot be read or holds none.
    X509_STORE* ofFile(const QByteArray& path);

private:
    X509_STORE* m_store = nullptr;
    QByteArray m_from;
    bool m_made = false;
    QByteArray m_file;
    bool m_fileRead = false;
};
