#include "tests/support/LiteralScanner.h"

#include <cstring>

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return std::strchr(" \t\n\f\r", c) != nullptr && c != '\0';
}

// True when the bytes from position i, lower-cased, spell pattern; a window
// that runs past the end of the page never matches.
bool WindowIs(const char* data, qsizetype length, qsizetype i, const char* pattern) {
    const auto size = static_cast<qsizetype>(std::strlen(pattern));
    if (i + size > length)
        return false;
    for (qsizetype k = 0; k < size; ++k) {
        if (LowerAscii(data[i + k]) != pattern[k])
            return false;
    }
    return true;
}

// The name at i, then (any quotes) blanks, '=', blanks and a value that starts
// before the end of the page.
bool AnyQuotesAt(const char* data, qsizetype length, qsizetype i, const char* name, LinkKind kind,
                 Match& match) {
    if (!WindowIs(data, length, i, name))
        return false;
    qsizetype k = i + static_cast<qsizetype>(std::strlen(name));
    while (k < length && IsBlank(data[k]))
        ++k;
    if (k >= length || data[k] != '=')
        return false;
    ++k;
    while (k < length && IsBlank(data[k]))
        ++k;
    if (k >= length)
        return false;
    match.kind = kind;
    if (data[k] == '"' || data[k] == '\'') {
        match.quote = data[k] == '"' ? ValueQuote::Double : ValueQuote::Single;
        match.valueStart = k + 1;
    } else {
        match.quote = ValueQuote::None;
        match.valueStart = k;
    }
    return true;
}

} // namespace

bool LiteralScan(const char* data, qsizetype length, LinkSink& sink, ScanRules rules) {
    for (qsizetype i = 0; i < length; ++i) {
        Match match;
        if (rules.anyQuotes) {
            if ((AnyQuotesAt(data, length, i, "href", LinkKind::Href, match) ||
                 AnyQuotesAt(data, length, i, "src", LinkKind::Src, match) ||
                 (rules.srcset &&
                  AnyQuotesAt(data, length, i, "srcset", LinkKind::Srcset, match))) &&
                !sink.matched(match))
                return false;
            continue;
        }
        if (WindowIs(data, length, i, "href=\"") && !sink.matched(Href(i + 6)))
            return false;
        if (WindowIs(data, length, i, "src=\"") && !sink.matched(Src(i + 5)))
            return false;
        if (rules.srcset && WindowIs(data, length, i, "srcset=\"") && !sink.matched(Srcset(i + 8)))
            return false;
    }
    return true;
}
