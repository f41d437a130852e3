#include "tests/support/LiteralScanner.h"

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the bytes from position i, lower-cased, spell pattern; a window
// that runs past the end of the page never matches.
bool WindowIs(const char* data, qsizetype length, qsizetype i, const char* pattern,
              qsizetype size) {
    if (i + size > length)
        return false;
    for (qsizetype k = 0; k < size; ++k) {
        if (LowerAscii(data[i + k]) != pattern[k])
            return false;
    }
    return true;
}

} // namespace

bool LiteralScan(const char* data, qsizetype length, LinkSink& sink) {
    for (qsizetype i = 0; i < length; ++i) {
        if (WindowIs(data, length, i, "href=\"", 6) && !sink.matched(i + 6, false))
            return false;
        if (WindowIs(data, length, i, "src=\"", 5) && !sink.matched(i + 5, true))
            return false;
    }
    return true;
}
