#include "crawl/LinkValue.h"

#include <QByteArrayView>
#include <QStringView>

namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;
constexpr char32_t LargestCodePoint = 0x10FFFF;

bool IsAsciiWhitespace(QChar c) {
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\f' || u == '\r';
}

// Tabs and line breaks inside a link are dropped, as browsers do when they parse
// a URL (WHATWG URL Standard, "remove all ASCII tab or newline").
bool IsTabOrNewline(QChar c) {
    const char16_t u = c.unicode();
    return u == '\t' || u == '\n' || u == '\r';
}

bool IsDigit(QChar c, bool hex) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return true;
    return hex && ((u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F'));
}

int DigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u <= '9')
        return u - '0';
    return (u | 0x20) - 'a' + 10;
}

void AppendCodePoint(QString& out, char32_t code) {
    // NUL, surrogates and values past Unicode become U+FFFD, as in HTML's
    // numeric character reference end state.
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > LargestCodePoint)
        code = ReplacementCharacter;
    if (code > 0xFFFF) {
        out += QChar(QChar::highSurrogate(code));
        out += QChar(QChar::lowSurrogate(code));
    } else {
        out += QChar(static_cast<char16_t>(code));
    }
}

// A numeric reference "#N;" or "#xH;" at s[i] (just after the '&'). Returns the
// index of its ';', or -1 when s[i] does not start one.
qsizetype ReadNumericReference(QStringView s, qsizetype i, QString& out) {
    if (i >= s.size() || s[i] != u'#')
        return -1;
    ++i;
    const bool hex = i < s.size() && (s[i] == u'x' || s[i] == u'X');
    if (hex)
        ++i;
    const qsizetype digitsStart = i;
    char32_t code = 0;
    while (i < s.size() && IsDigit(s[i], hex)) {
        // Saturate past the largest code point; it then reads as U+FFFD.
        if (code <= LargestCodePoint)
            code = code * (hex ? 16 : 10) + static_cast<char32_t>(DigitValue(s[i]));
        ++i;
    }
    if (i == digitsStart || i >= s.size() || s[i] != u';')
        return -1;
    AppendCodePoint(out, code);
    return i;
}

// A named reference at s[i] (just after the '&'). Returns the index of its ';',
// or -1.
qsizetype ReadNamedReference(QStringView s, qsizetype i, QString& out) {
    struct Named {
        QStringView name;
        char16_t character;
    };
    static const Named names[] = {
        {u"amp;", u'&'}, {u"lt;", u'<'}, {u"gt;", u'>'}, {u"quot;", u'"'}, {u"apos;", u'\''},
    };
    const QStringView rest = s.mid(i);
    for (const Named& n : names) {
        if (rest.startsWith(n.name)) {
            out += QChar(n.character);
            return i + n.name.size() - 1;
        }
    }
    return -1;
}

QString DecodeCharacterReferences(QStringView s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'&') {
            out += s[i];
            continue;
        }
        qsizetype end = ReadNamedReference(s, i + 1, out);
        if (end < 0)
            end = ReadNumericReference(s, i + 1, out);
        if (end < 0)
            out += s[i];
        else
            i = end;
    }
    return out;
}

// True when the bytes need none of the work below: ASCII, no reference, no
// whitespace. Most links in real pages are like this.
bool IsPlain(const char* data, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (b >= 0x80 || b <= ' ' || b == '&')
            return false;
    }
    return true;
}

} // namespace

QString DecodeValueBytes(const char* data, qsizetype size) {
    const QByteArrayView bytes(data, size);
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
}

QString CleanLinkValue(const char* data, qsizetype size) {
    if (IsPlain(data, size))
        return QString::fromLatin1(data, size);
    QString text = DecodeValueBytes(data, size);
    // References first, as an HTML parser decodes them before the URL parser
    // sees the value: "&#10;" is a line break and is dropped like one.
    if (text.contains(u'&'))
        text = DecodeCharacterReferences(text);
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsAsciiWhitespace(text[begin]))
        ++begin;
    while (end > begin && IsAsciiWhitespace(text[end - 1]))
        --end;
    QString out;
    out.reserve(end - begin);
    for (qsizetype i = begin; i < end; ++i) {
        if (!IsTabOrNewline(text[i]))
            out += text[i];
    }
    return out;
}

QString DecodeAttributeValue(const char* data, qsizetype size) {
    QString text = DecodeValueBytes(data, size);
    return text.contains(u'&') ? DecodeCharacterReferences(text) : text;
}
