#include "crawl/LinkResolver.h"

#include <QVarLengthArray>
#include <algorithm>

namespace {

bool IsAsciiLetter(char16_t u) {
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool IsAsciiDigit(char16_t u) {
    return u >= '0' && u <= '9';
}

// Characters QUrl keeps as they are in the path of its fully encoded form: the
// unreserved characters and sub-delims of RFC 3986, ':', '@' and '/'. '%' is not
// among them, since QUrl normalises percent-encodings.
bool IsPlainPathChar(char16_t u) {
    if (IsAsciiLetter(u) || IsAsciiDigit(u))
        return true;
    switch (u) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
    case '/':
        return true;
    default:
        return false;
    }
}

// In a query or a fragment '?' is kept as well.
bool IsPlainQueryChar(char16_t u) {
    return IsPlainPathChar(u) || u == '?';
}

bool IsPlainText(QStringView s, bool (*isPlain)(char16_t)) {
    for (QChar c : s) {
        if (!isPlain(c.unicode()))
            return false;
    }
    return true;
}

struct PlainParts {
    QStringView path;
    QStringView query;
    QStringView fragment;
    bool hasQuery = false;
    bool hasFragment = false;
};

// Splits a reference into path, query and fragment (RFC 3986 appendix B); false
// when a character needs more than string work.
bool SplitPlain(QStringView v, PlainParts& parts) {
    const qsizetype n = v.size();
    qsizetype i = 0;
    for (; i < n && v[i] != u'?' && v[i] != u'#'; ++i) {
        if (!IsPlainPathChar(v[i].unicode()))
            return false;
    }
    parts.path = v.left(i);
    if (i < n && v[i] == u'?') {
        const qsizetype start = ++i;
        for (; i < n && v[i] != u'#'; ++i) {
            if (!IsPlainQueryChar(v[i].unicode()))
                return false;
        }
        parts.query = v.mid(start, i - start);
        parts.hasQuery = true;
    }
    if (i < n) {
        parts.fragment = v.mid(i + 1);
        parts.hasFragment = true;
        return IsPlainText(parts.fragment, IsPlainQueryChar);
    }
    return true;
}

// True when a segment of the path is "." or "..".
bool HasDotSegments(QStringView path) {
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (path[i] != u'.' || (i > 0 && path[i - 1] != u'/'))
            continue;
        qsizetype j = i + 1;
        if (j < n && path[j] == u'.')
            ++j;
        if (j == n || path[j] == u'/')
            return true;
    }
    return false;
}

// RFC 3986 section 5.2.4, for a path that begins with "/".
QString RemoveDotSegments(QStringView path) {
    QVarLengthArray<QStringView, 32> out;
    qsizetype pos = 1;
    for (;;) {
        const qsizetype slash = path.indexOf(u'/', pos);
        const bool last = slash < 0;
        const QStringView segment = path.mid(pos, (last ? path.size() : slash) - pos);
        if (segment == u"..") {
            if (!out.isEmpty())
                out.removeLast();
            if (last)
                out.append(QStringView());
        } else if (segment == u".") {
            if (last)
                out.append(QStringView());
        } else {
            out.append(segment);
        }
        if (last)
            break;
        pos = slash + 1;
    }
    QString result;
    result.reserve(path.size());
    for (QStringView segment : out) {
        result += u'/';
        result += segment;
    }
    return result;
}

void AppendPath(QString& out, QStringView path) {
    if (HasDotSegments(path))
        out += RemoveDotSegments(path);
    else
        out += path;
}

// A host QUrl takes as it is, lower-cased: ASCII labels of letters, digits and
// inner hyphens, the last one not all digits (QUrl rewrites IPv4 addresses),
// none of the reserved form "ab--" (IDNA, "xn--" among them).
bool IsPlainHost(QStringView host) {
    if (host.isEmpty() || host.size() > 253)
        return false;
    bool labelHasLetter = false;
    qsizetype labelStart = 0;
    for (qsizetype i = 0; i <= host.size(); ++i) {
        if (i < host.size() && host[i] != u'.') {
            const char16_t u = host[i].unicode();
            if (IsAsciiLetter(u))
                labelHasLetter = true;
            else if (!IsAsciiDigit(u) && u != '-')
                return false;
            continue;
        }
        const QStringView label = host.mid(labelStart, i - labelStart);
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-' ||
            (label.size() >= 4 && label[2] == u'-' && label[3] == u'-'))
            return false;
        if (i < host.size())
            labelHasLetter = false;
        labelStart = i + 1;
    }
    return labelHasLetter;
}

bool IsControl(char16_t u) {
    return u < 0x20 || (u >= 0x7F && u < 0xA0);
}

// A link listed as written must not carry control characters either: raw, an
// ESC sequence would retitle or clear the terminal it is printed on and a NUL
// would cut a field of a result file. They are percent-encoded as a URL
// serializer encodes them (WHATWG URL Standard, C0 control percent-encode set),
// C1 controls and DEL as their UTF-8 bytes.
QString EncodeControls(const QString& value) {
    const auto control =
        std::find_if(value.cbegin(), value.cend(), [](QChar c) { return IsControl(c.unicode()); });
    if (control == value.cend())
        return value;
    QString out;
    out.reserve(value.size() + 8);
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (!IsControl(u)) {
            out += c;
            continue;
        }
        static const char Hex[] = "0123456789ABCDEF";
        for (const char byte : QString(c).toUtf8()) {
            const auto b = static_cast<unsigned char>(byte);
            out += u'%';
            out += QLatin1Char(Hex[b >> 4]);
            out += QLatin1Char(Hex[b & 0xF]);
        }
    }
    return out;
}

void AppendQueryAndFragment(QString& out, const PlainParts& parts, bool withFragment) {
    if (parts.hasQuery) {
        out += u'?';
        out += parts.query;
    }
    if (withFragment && parts.hasFragment) {
        out += u'#';
        out += parts.fragment;
    }
}

} // namespace

void LinkResolver::setBase(const QString& base) {
    if (m_parsed && base == m_baseText)
        return;
    m_parsed = true;
    m_baseText = base;
    m_base = QUrl(base, QUrl::TolerantMode);
    m_baseUsable = m_base.isValid() && !m_base.isRelative();
    m_basePlain = false;
    if (!m_baseUsable ||
        (m_base.scheme() != QLatin1String("http") && m_base.scheme() != QLatin1String("https")))
        return;
    m_basePath = m_base.path(QUrl::FullyEncoded);
    m_baseHasQuery = m_base.hasQuery();
    m_baseQuery = m_base.query(QUrl::FullyEncoded);
    m_basePrefix = m_base.toString(QUrl::FullyEncoded | QUrl::RemovePath | QUrl::RemoveQuery |
                                   QUrl::RemoveFragment);
    m_basePlain = !m_base.host().isEmpty() && m_basePath.startsWith(u'/') &&
                  !HasDotSegments(m_basePath) && IsPlainText(m_basePath, IsPlainPathChar) &&
                  IsPlainText(m_baseQuery, IsPlainQueryChar);
}

LinkResolver::Result LinkResolver::resolve(const QString& value, bool withFragment) const {
    Result result;
    if (m_basePlain && resolvePlain(value, withFragment, result))
        return result;
    return resolveWithQUrl(value, withFragment);
}

// RFC 3986 section 5.2.2 for a plain http(s) address or a plain relative
// reference without authority.
bool LinkResolver::resolvePlain(QStringView value, bool withFragment, Result& result) const {
    PlainParts parts;
    QString out;
    const bool http = value.startsWith(u"http://", Qt::CaseInsensitive);
    if (http || value.startsWith(u"https://", Qt::CaseInsensitive)) {
        const QStringView rest = value.mid(http ? 7 : 8);
        qsizetype hostEnd = 0;
        while (hostEnd < rest.size() && rest[hostEnd] != u'/' && rest[hostEnd] != u'?' &&
               rest[hostEnd] != u'#')
            ++hostEnd;
        const QStringView host = rest.left(hostEnd);
        if (!IsPlainHost(host) || !SplitPlain(rest.mid(hostEnd), parts))
            return false;
        out.reserve(value.size());
        out += http ? QStringView(u"http://") : QStringView(u"https://");
        out += host.toString().toLower();
        AppendPath(out, parts.path);
        AppendQueryAndFragment(out, parts, withFragment);
        result = {out, true};
        return true;
    }
    // "//" starts an authority; a ':' in the first segment a scheme (or a path
    // that QUrl reads its own way).
    if (value.startsWith(u"//"))
        return false;
    for (QChar c : value) {
        if (c == u':')
            return false;
        if (c == u'/' || c == u'?' || c == u'#')
            break;
    }
    if (!SplitPlain(value, parts))
        return false;
    out.reserve(m_basePrefix.size() + m_basePath.size() + value.size() + m_baseQuery.size() + 2);
    out += m_basePrefix;
    if (parts.path.isEmpty()) {
        out += m_basePath;
        if (!parts.hasQuery && m_baseHasQuery) {
            out += u'?';
            out += m_baseQuery;
        }
    } else if (parts.path.startsWith(u'/')) {
        AppendPath(out, parts.path);
    } else {
        // Merge (section 5.2.3): the base path up to its last "/", then the value.
        const QString merged =
            QStringView(m_basePath).left(m_basePath.lastIndexOf(u'/') + 1) + parts.path;
        AppendPath(out, merged);
    }
    AppendQueryAndFragment(out, parts, withFragment);
    result = {out, true};
    return true;
}

LinkResolver::Result LinkResolver::resolveWithQUrl(const QString& value, bool withFragment) const {
    const QUrl relative(value, QUrl::TolerantMode);
    QUrl target;
    if (m_baseUsable)
        target = m_base.resolved(relative);
    else if (relative.isValid() && !relative.isRelative())
        target = relative;
    if (!target.isValid() || target.isRelative())
        return {EncodeControls(value), false};
    const QString scheme = target.scheme();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    // http: and https: addresses need a host (WHATWG URL Standard); "//" on its
    // own would otherwise become "http://".
    if (web && target.host().isEmpty())
        return {EncodeControls(value), false};
    if (!withFragment)
        target.setFragment(QString());
    return {target.toString(QUrl::FullyEncoded), web};
}
