#include "crawl/Cookies.h"

#include "crawl/CrawlScope.h"

#include <QList>
#include <QUrl>
#include <algorithm>
#include <arpa/inet.h>
#include <curl/curl.h>
#include <libpsl.h>
#include <map>
#include <tuple>

namespace {

const QByteArray HttpOnlyPrefix = QByteArrayLiteral("#HttpOnly_");

// host is domain, or (for a domain that covers its subdomains) ends in
// ".domain"; an IP address only ever matches itself (RFC 6265, section 5.1.3).
bool domainMatches(const QString& host, const QString& domain, bool subdomains) {
    if (host == domain)
        return true;
    return subdomains && !IsIpAddress(host) && host.size() > domain.size() &&
           host.endsWith(domain) && host.at(host.size() - domain.size() - 1) == u'.';
}

// RFC 6265, section 5.1.4.
bool pathMatches(const QString& requestPath, const QString& cookiePath) {
    if (requestPath == cookiePath)
        return true;
    return requestPath.startsWith(cookiePath) &&
           (cookiePath.endsWith(u'/') || requestPath.at(cookiePath.size()) == u'/');
}

QString requestPathOf(const QUrl& url) {
    const QString path = url.path(QUrl::FullyEncoded);
    return path.isEmpty() ? QStringLiteral("/") : path;
}

// The default path of a cookie set without one (RFC 6265, section 5.1.4): the
// request's path up to, not including, its last "/".
QString defaultPath(const QString& requestPath) {
    const qsizetype slash = requestPath.lastIndexOf(u'/');
    if (!requestPath.startsWith(u'/') || slash <= 0)
        return QStringLiteral("/");
    return requestPath.left(slash);
}

bool isTrue(const QByteArray& field) {
    return field.compare("TRUE", Qt::CaseInsensitive) == 0;
}

} // namespace

bool IsIpAddress(const QString& host) {
    const QByteArray text = host.toLatin1();
    unsigned char address[16];
    return inet_pton(AF_INET, text.constData(), address) == 1 ||
           inet_pton(AF_INET6, text.constData(), address) == 1;
}

bool Cookie::matches(const QString& host, const QString& requestPath, bool secureScheme) const {
    return domainMatches(host, domain, includeSubdomains) && pathMatches(requestPath, path) &&
           (!secure || secureScheme);
}

bool ParseCookieFile(const QByteArray& text, qint64 now, std::vector<Cookie>* cookies,
                     int* badLine) {
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        Cookie cookie;
        if (line.startsWith(HttpOnlyPrefix)) {
            cookie.httpOnly = true;
            line = line.mid(HttpOnlyPrefix.size());
        } else if (line.trimmed().isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QList<QByteArray> fields = line.split('\t');
        bool expiryOk = false;
        if (fields.size() == 7) {
            cookie.expires = fields.at(4).toLongLong(&expiryOk);
            cookie.domain = QString::fromUtf8(fields.at(0)).toLower();
        }
        if (!expiryOk || cookie.domain.isEmpty() || fields.at(5).isEmpty()) {
            *badLine = static_cast<int>(i + 1);
            return false;
        }
        // A leading dot is the old way of saying "and its subdomains".
        if (cookie.domain.startsWith(u'.'))
            cookie.domain.remove(0, 1);
        cookie.includeSubdomains = isTrue(fields.at(1));
        cookie.path = QString::fromUtf8(fields.at(2));
        if (!cookie.path.startsWith(u'/'))
            cookie.path = QStringLiteral("/");
        cookie.secure = isTrue(fields.at(3));
        cookie.name = fields.at(5);
        cookie.value = fields.at(6);
        if (!cookie.expiredAt(now))
            cookies->push_back(std::move(cookie));
    }
    return true;
}

QByteArray CookieHeaderFor(const std::vector<Cookie>& cookies, const QString& address) {
    const QUrl url(address);
    const QString host = url.host().toLower();
    const QString path = requestPathOf(url);
    const bool secure = url.scheme() == QLatin1String("https");
    std::vector<const Cookie*> sent;
    for (const Cookie& c : cookies)
        if (c.matches(host, path, secure))
            sent.push_back(&c);
    std::stable_sort(sent.begin(), sent.end(), [](const Cookie* a, const Cookie* b) {
        return a->path.size() > b->path.size();
    });
    QByteArray header;
    for (const Cookie* c : sent) {
        if (!header.isEmpty())
            header += "; ";
        header += c->name + '=' + c->value;
    }
    return header;
}

bool ParseSetCookie(const QByteArray& header, const QString& address, qint64 now, Cookie* cookie) {
    const QUrl url(address);
    const QString host = url.host().toLower();
    const QList<QByteArray> parts = header.split(';');
    const QByteArray pair = parts.value(0);
    const qsizetype equals = pair.indexOf('=');
    if (equals <= 0 || pair.left(equals).trimmed().isEmpty())
        return false;
    Cookie c;
    c.name = pair.left(equals).trimmed();
    c.value = pair.mid(equals + 1).trimmed();
    c.domain = host;
    c.path = defaultPath(requestPathOf(url));
    bool maxAgeGiven = false;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray& part = parts.at(i);
        const qsizetype eq = part.indexOf('=');
        const QByteArray name = (eq < 0 ? part : part.left(eq)).trimmed().toLower();
        const QByteArray value = eq < 0 ? QByteArray() : part.mid(eq + 1).trimmed();
        if (name == "max-age") {
            bool ok = false;
            const qint64 seconds = value.toLongLong(&ok);
            if (ok) {
                maxAgeGiven = true;
                // Zero or less: gone at once (the earliest time there is).
                c.expires = seconds <= 0 ? 1 : now + std::min<qint64>(seconds, 1LL << 40);
            }
        } else if (name == "expires" && !maxAgeGiven) {
            const time_t when = curl_getdate(value.constData(), nullptr);
            if (when != -1)
                c.expires = std::max<qint64>(when, 1);
        } else if (name == "domain" && !value.isEmpty()) {
            QString domain = QString::fromUtf8(value).toLower();
            if (domain.startsWith(u'.'))
                domain.remove(0, 1);
            if (!domainMatches(host, domain, true))
                return false;
            // No cookie for a whole public suffix ("com", "co.uk"), nor for
            // another host by its IP address.
            if (domain != host &&
                !psl_is_cookie_domain_acceptable(PublicSuffixList(), host.toUtf8().constData(),
                                                 domain.toUtf8().constData()))
                return false;
            c.domain = domain;
            c.includeSubdomains = true;
        } else if (name == "path") {
            if (value.startsWith('/'))
                c.path = QString::fromUtf8(value);
        } else if (name == "secure") {
            c.secure = true;
        } else if (name == "httponly") {
            c.httpOnly = true;
        }
    }
    *cookie = std::move(c);
    return true;
}

QByteArray CookieFileText(const std::vector<Cookie>& cookies, qint64 now) {
    // One of a kind, the last given winning (RFC 6265, section 5.3, step 11).
    std::map<std::tuple<QString, QString, QByteArray>, const Cookie*> kept;
    for (const Cookie& c : cookies)
        kept[{c.domain, c.path, c.name}] = &c;
    QByteArray text = QByteArrayLiteral("# Netscape HTTP Cookie File\n");
    for (const auto& [key, c] : kept) {
        if (c->expiredAt(now))
            continue;
        const auto flag = [](bool on) { return on ? QByteArrayLiteral("TRUE") : "FALSE"; };
        if (c->httpOnly)
            text += HttpOnlyPrefix;
        text += (c->includeSubdomains ? "." : "") + c->domain.toUtf8() + '\t' +
                flag(c->includeSubdomains) + '\t' + c->path.toUtf8() + '\t' + flag(c->secure) +
                '\t' + QByteArray::number(c->expires) + '\t' + c->name + '\t' + c->value + '\n';
    }
    return text;
}
