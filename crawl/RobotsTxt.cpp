#include "crawl/RobotsTxt.h"

#include <QUrl>

namespace {

bool IsUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Both sides of a comparison in one form (section 2.2.2): octets outside US-ASCII
// and blanks percent-encoded, an encoded unreserved character decoded, every other
// percent-encoding in upper case.
QByteArray Normalised(const QByteArray& path) {
    static const char Hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (byte == '%' && i + 2 < path.size() && HexValue(path[i + 1]) >= 0 &&
            HexValue(path[i + 2]) >= 0) {
            const char decoded =
                static_cast<char>(HexValue(path[i + 1]) * 16 + HexValue(path[i + 2]));
            if (IsUnreserved(decoded)) {
                out += decoded;
            } else {
                out += '%';
                out += Hex[HexValue(path[i + 1])];
                out += Hex[HexValue(path[i + 2])];
            }
            i += 2;
        } else if (byte <= 0x20 || byte >= 0x7F) {
            out += '%';
            out += Hex[byte >> 4];
            out += Hex[byte & 0xF];
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

// True when pattern matches the start of path ("*" any run, a final "$" the end).
bool Matches(const char* pattern, const char* patternEnd, const char* path, const char* pathEnd) {
    // Backtracking over the last "*" only: linear in practice, quadratic at worst.
    const char* star = nullptr;
    const char* starPath = nullptr;
    while (pattern != patternEnd) {
        if (*pattern == '*') {
            star = ++pattern;
            starPath = path;
            continue;
        }
        if (*pattern == '$' && pattern + 1 == patternEnd) {
            if (path == pathEnd)
                return true;
        } else if (path != pathEnd && *pattern == *path) {
            ++pattern;
            ++path;
            continue;
        }
        if (!star || starPath == pathEnd)
            return false;
        pattern = star;
        path = ++starPath;
    }
    return true;
}

// The product token of a user-agent line: up to a "/" or a blank.
QByteArray ProductToken(const QByteArray& value) {
    qsizetype end = 0;
    while (end < value.size() && value[end] != '/' && value[end] != ' ' && value[end] != '\t')
        ++end;
    return value.left(end).toLower();
}

} // namespace

RobotsTxt RobotsTxt::disallowingAll() {
    RobotsTxt rules;
    rules.m_disallowAll = true;
    return rules;
}

RobotsTxt RobotsTxt::parse(const QByteArray& text, const QString& agent) {
    const QByteArray token = agent.toUtf8().toLower();
    std::vector<Rule> ours, anyone;
    bool oursFound = false;
    // The group being read: whether its user-agent lines name us or "*", and
    // whether a rule has ended its user-agent lines.
    bool groupOurs = false, groupAnyone = false, inRules = false;
    QStringList sitemaps;
    for (QByteArray line : text.left(ParsedBytes).split('\n')) {
        const qsizetype comment = line.indexOf('#');
        if (comment >= 0)
            line.truncate(comment);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (key == "sitemap") {
            if (!value.isEmpty() && sitemaps.size() < MaxSitemaps)
                sitemaps.append(QString::fromUtf8(value));
        } else if (key == "user-agent") {
            if (inRules)
                groupOurs = groupAnyone = inRules = false;
            const QByteArray product = ProductToken(value);
            groupOurs = groupOurs || product == token;
            groupAnyone = groupAnyone || product == "*";
            oursFound = oursFound || product == token;
        } else if (key == "allow" || key == "disallow") {
            inRules = true;
            // An empty path matches nothing.
            if (value.isEmpty())
                continue;
            const Rule rule{Normalised(value), key == "allow"};
            if (groupOurs)
                ours.push_back(rule);
            else if (groupAnyone)
                anyone.push_back(rule);
        }
    }
    RobotsTxt rules;
    rules.m_rules = oursFound ? std::move(ours) : std::move(anyone);
    rules.m_sitemaps = std::move(sitemaps);
    return rules;
}

bool RobotsTxt::allows(const QString& address) const {
    if (m_disallowAll)
        return false;
    if (m_rules.empty())
        return true;
    const QUrl url(address);
    QByteArray path = url.path(QUrl::FullyEncoded).toUtf8();
    if (path.isEmpty())
        path = "/";
    if (url.hasQuery())
        path += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    path = Normalised(path);
    qsizetype longest = -1;
    bool allowed = true;
    for (const Rule& rule : m_rules) {
        if (rule.path.size() < longest ||
            !Matches(rule.path.cbegin(), rule.path.cend(), path.cbegin(), path.cend()))
            continue;
        allowed = rule.path.size() > longest ? rule.allow : allowed || rule.allow;
        longest = rule.path.size();
    }
    return allowed;
}

QString RobotsTxt::addressFor(const QString& address) {
    QUrl url(address);
    url.setUserInfo(QString());
    url.setPath(QStringLiteral("/robots.txt"));
    url.setQuery(QString());
    url.setFragment(QString());
    return url.toString(QUrl::FullyEncoded);
}
