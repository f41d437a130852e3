#pragma once

#include "crawl/Cookies.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

// What the requests of a run say of who asks, and to whom each part of it is
// said: the user agent (to every host); headers, cookies and credentials only to
// the hosts they are for; and the certificates trusted. It is a function of the
// request's address alone, so that every request (each hop of a redirect
// included) carries only what belongs to its host.
//
// Header values, cookies and passwords are secrets: nothing here hands them to a
// message.
class RequestIdentity {
public:
    // A header line ("Name: value") for a host and its subdomains; an empty
    // host stands for the hosts of the listed addresses until scopeToListed().
    struct Header {
        QString host;
        QByteArray line;
    };

    // The user agent; empty for the program's own.
    QByteArray userAgent;
    std::vector<Header> headers;
    // The cookies read from the cookie file; those set by answers are only
    // gathered, never sent, so that what a run finds never depends on the order
    // its answers arrive in.
    std::vector<Cookie> cookies;
    // The logins of the netrc file, by machine (lower case), and the file's name.
    // Each goes only to its machine, and with a request of its own, not through
    // libcurl's netrc lookup: that one would also give a "default" entry to
    // every host, the hosts a redirect leads to included.
    struct Login {
        QByteArray user;
        QByteArray password;
    };
    QHash<QString, Login> netrc;
    QByteArray netrcFile;
    // The certificates trusted (the system's, or those of CURL_CA_BUNDLE or
    // SSL_CERT_FILE, and those added), as one PEM bundle; empty: libcurl's own
    // choice. And no check of certificates at all.
    QByteArray trustedCertificates;
    bool insecure = false;

    // The Set-Cookie answers of the run, with the address each came from: kept
    // only when a cookie jar is to be written.
    struct Answers {
        std::vector<std::pair<QString, QByteArray>> setCookies;
    };
    std::shared_ptr<Answers> answers;

    // The headers with no host of their own go to each of these hosts (and their
    // subdomains).
    void scopeToListed(const QStringList& hosts);
    // The header lines of a request to address: the headers for its host and the
    // Cookie header of the cookies that match it.
    QList<QByteArray> headersFor(const QString& address) const;
    // The login for the host of address; null when there is none.
    const Login* loginFor(const QString& address) const;
    // An answer from address set a cookie; kept when answers are.
    void answered(const QString& address, const QByteArray& setCookie) const;
    // The cookies read and those the answers set (in an order of their own, not
    // of arrival), as a Netscape cookie file, sorted.
    QByteArray cookieJar(qint64 now) const;
};

// The host (lower case) of a header's "HOST=" prefix, and the header line after
// it; an empty host when there is no prefix: the text before the first ':' holds
// no '='. False for a line that is not "Name: value" with a name of token
// characters and no line break (RFC 9110, section 5.1, 5.5).
bool ParseHeaderOption(const QByteArray& text, RequestIdentity::Header* header);

// The logins of a netrc file's text, by machine (lower case); the "default"
// entry is left out.
QHash<QString, RequestIdentity::Login> ParseNetrc(const QByteArray& text);

// The certificates libcurl trusts without being told: those of CURL_CA_BUNDLE,
// else SSL_CERT_FILE, else the system's bundle, and then the PEM certificates of
// extra. False, with the reason, when one cannot be read or extra holds no
// certificate.
bool TrustedCertificates(const QString& extra, QByteArray* bundle, QString* error);
