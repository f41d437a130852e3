#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// An IPv4 or IPv6 address (as QUrl gives a host: no brackets), not a name.
bool IsIpAddress(const QString& host);

// One cookie as a Netscape cookie file holds it, the format curl and wget read
// and write: a line of seven fields separated by tabs (domain, subdomains too,
// path, secure only, expiry, name, value), "#HttpOnly_" before the domain of an
// HttpOnly cookie.
struct Cookie {
    QString domain; // lower case, without a leading dot
    bool includeSubdomains = false;
    QString path = QStringLiteral("/");
    bool secure = false;
    bool httpOnly = false;
    qint64 expires = 0; // seconds since 1970; 0: a session cookie
    QByteArray name;
    QByteArray value;

    // Sent with a request to this host and path, over https or not (RFC 6265,
    // section 5.4: domain-match, path-match, secure only over a secure channel).
    bool matches(const QString& host, const QString& path, bool secureScheme) const;
    bool expiredAt(qint64 now) const { return expires != 0 && expires <= now; }
};

// The cookies of a Netscape cookie file's text, those expired at now left out.
// False, with the number of the first line that is not a cookie in *badLine, for a
// file that is not one; what such a line holds is never said, it may be a secret.
bool ParseCookieFile(const QByteArray& text, qint64 now, std::vector<Cookie>* cookies,
                     int* badLine);

// The Cookie header value of a request to address: the cookies that match, those
// with longer paths first, else in the order given (RFC 6265, section 5.4); empty
// when none match.
QByteArray CookieHeaderFor(const std::vector<Cookie>& cookies, const QString& address);

// The cookie a Set-Cookie header value from an answer to address sets (RFC 6265,
// section 5.2, 5.3), its Max-Age counted from now. False for one that a user agent
// ignores: no name, or a Domain that the address's host is not in (or a public
// suffix).
bool ParseSetCookie(const QByteArray& header, const QString& address, qint64 now, Cookie* cookie);

// The cookies as a Netscape cookie file: one of a kind (domain, path, name) each,
// the last given winning, the expired ones gone, sorted by domain, path and name.
QByteArray CookieFileText(const std::vector<Cookie>& cookies, qint64 now);
