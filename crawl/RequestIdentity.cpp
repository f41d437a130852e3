#include "crawl/RequestIdentity.h"

#include "base/SystemIo.h"
#include "crawl/URLMon.h"

#include <QFile>
#include <QUrl>
#include <algorithm>
#include <tuple>

namespace {

// host is domain or one of its subdomains; an IP address is only itself.
bool isHostOrBelow(const QString& host, const QString& domain) {
    if (host == domain)
        return true;
    return !IsIpAddress(host) && host.size() > domain.size() && host.endsWith(domain) &&
           host.at(host.size() - domain.size() - 1) == u'.';
}

QString hostOf(const QString& address) {
    return QUrl(address).host().toLower();
}

// RFC 9110, section 5.6.2.
bool isToken(const QByteArray& text) {
    static const QByteArray Marks = QByteArrayLiteral("!#$%&'*+-.^_`|~");
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               Marks.contains(c);
    });
}

} // namespace

void RequestIdentity::scopeToListed(const QStringList& hosts) {
    std::vector<Header> scoped;
    for (const Header& h : headers) {
        if (!h.host.isEmpty()) {
            scoped.push_back(h);
            continue;
        }
        QStringList done;
        for (const QString& host : hosts)
            if (!host.isEmpty() && !done.contains(host)) {
                done.append(host);
                scoped.push_back({host, h.line});
            }
    }
    headers = std::move(scoped);
}

QList<QByteArray> RequestIdentity::headersFor(const QString& address) const {
    QList<QByteArray> lines;
    const QString host = hostOf(address);
    for (const Header& h : headers)
        if (!h.host.isEmpty() && isHostOrBelow(host, h.host) && !lines.contains(h.line))
            lines.append(h.line);
    const QByteArray cookie = CookieHeaderFor(cookies, address);
    if (!cookie.isEmpty())
        lines.append(QByteArrayLiteral("Cookie: ") + cookie);
    return lines;
}

const RequestIdentity::Login* RequestIdentity::loginFor(const QString& address) const {
    const auto found = netrc.constFind(hostOf(address));
    return found == netrc.cend() ? nullptr : &*found;
}

void RequestIdentity::answered(const QString& address, const QByteArray& setCookie) const {
    if (answers)
        answers->setCookies.emplace_back(address, setCookie);
}

QByteArray RequestIdentity::cookieJar(qint64 now) const {
    std::vector<Cookie> set;
    if (answers)
        for (const auto& [address, header] : answers->setCookies) {
            Cookie c;
            if (ParseSetCookie(header, address, now, &c))
                set.push_back(std::move(c));
        }
    // Answers that set the same cookie differently arrive in any order: the one
    // kept is chosen by what it holds, not by when it came.
    std::stable_sort(set.begin(), set.end(), [](const Cookie& a, const Cookie& b) {
        return std::tie(a.value, a.expires) < std::tie(b.value, b.expires);
    });
    std::vector<Cookie> all = cookies;
    all.insert(all.end(), set.begin(), set.end());
    return CookieFileText(all, now);
}

bool ParseHeaderOption(const QByteArray& text, RequestIdentity::Header* header) {
    QByteArray line = text.trimmed();
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return false;
    const qsizetype equals = line.left(colon).indexOf('=');
    QString host;
    if (equals >= 0) {
        host = QString::fromUtf8(line.left(equals).trimmed()).toLower();
        line = line.mid(equals + 1).trimmed();
        if (host.isEmpty())
            return false;
    }
    const qsizetype nameEnd = line.indexOf(':');
    const QByteArray name = line.left(nameEnd);
    const QByteArray value = line.mid(nameEnd + 1).trimmed();
    if (!isToken(name) || value.contains('\r') || value.contains('\n') || value.contains('\0'))
        return false;
    header->host = host;
    header->line = name + QByteArrayLiteral(": ") + value;
    return true;
}

QHash<QString, RequestIdentity::Login> ParseNetrc(const QByteArray& text) {
    // Tokens are separated by blanks; a token may be quoted, with backslash
    // escapes; a macro definition runs to the next empty line.
    QByteArrayList tokens;
    for (qsizetype i = 0; i < text.size();) {
        const char c = text.at(i);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        QByteArray token;
        if (c == '"') {
            for (++i; i < text.size() && text.at(i) != '"'; ++i)
                token += text.at(i) == '\\' && i + 1 < text.size() ? text.at(++i) : text.at(i);
            ++i;
        } else {
            for (; i < text.size() && !QByteArrayLiteral(" \t\r\n").contains(text.at(i)); ++i)
                token += text.at(i);
        }
        if (token == "macdef") {
            const qsizetype end = text.indexOf("\n\n", i);
            i = end < 0 ? text.size() : end + 2;
            continue;
        }
        tokens.append(token);
    }
    QHash<QString, RequestIdentity::Login> logins;
    // The machine whose entry is being read; none within "default", and none for
    // a machine named again (its first entry is the one used, as curl does).
    RequestIdentity::Login* entry = nullptr;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QByteArray& key = tokens.at(i);
        const bool hasValue = i + 1 < tokens.size();
        if (key == "default") {
            entry = nullptr;
        } else if (key == "machine" && hasValue) {
            const QString machine = QString::fromUtf8(tokens.at(++i)).toLower();
            entry = logins.contains(machine) ? nullptr : &logins[machine];
        } else if ((key == "login" || key == "password") && hasValue) {
            const QByteArray& value = tokens.at(++i);
            if (entry)
                (key == "login" ? entry->user : entry->password) = value;
        } else if (key == "account" && hasValue) {
            ++i;
        }
    }
    return logins;
}

bool TrustedCertificates(const QString& extra, QByteArray* bundle, QString* error) {
    // As curl does: CURL_CA_BUNDLE, else SSL_CERT_FILE, in place of the system's
    // bundle (the same choice URLMon makes for every transfer).
    QByteArray path = CaBundleFromEnvironment();
    if (path.isEmpty())
        path = SystemCaBundle();
    const QString base = QFile::decodeName(path);
    QByteArray added;
    if (!ReadWholeFile(extra, &added, error))
        return false;
    if (!added.contains("-----BEGIN CERTIFICATE-----")) {
        *error = extra + QStringLiteral(" holds no PEM certificate");
        return false;
    }
    QByteArray trusted;
    if (!base.isEmpty() && QFile::exists(base) && !ReadWholeFile(base, &trusted, error))
        return false;
    if (!trusted.isEmpty() && !trusted.endsWith('\n'))
        trusted += '\n';
    *bundle = trusted + added;
    return true;
}
