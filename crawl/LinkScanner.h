#pragma once

#include <QtGlobal>

// Where the scanner sends what it finds. The scanner only finds; the sink decides
// what a match means (record it, count it, stop). Returning false from either call
// ends the scan at once.
class LinkSink {
public:
    virtual ~LinkSink() = default;

    // A value starts at valueStart (0-based, the byte after the opening double
    // quote; it may equal the page length when the page ends there). isFile is
    // true for the src pattern, false for the href pattern.
    virtual bool matched(qsizetype valueStart, bool isFile) = 0;

    // Called between two stretches of the page (LinkScanner::ChunkSize bytes each),
    // so that a long page without links can be paced and stopped too. scanned is
    // the number of bytes looked at so far.
    virtual bool progress(qsizetype scanned) {
        (void)scanned;
        return true;
    }
};

// Finds every href=" and src=" in a page, in page order. The patterns are textual:
// the ASCII letters in any case, then an equals sign and a double quote with
// nothing between them; the name needs no word boundary (data-src and xhref match
// too), and a value is scanned like any other text, so a pattern inside a value
// is found as well.
//
// Instead of looking at a six-byte window at every position, the scanner looks
// for the rare pair '=' '"' preceded by 'c' or 'f' (16 or 32 bytes at a time with
// SSE2 or AVX2, or with memchr for '=' elsewhere) and checks the full name only
// there.
class LinkScanner {
public:
    enum class Method { Best, Memchr, Sse2, Avx2 };

    static constexpr qsizetype ChunkSize = 64 * 1024;

    explicit LinkScanner(Method method = Method::Best);

    // True when this build and this processor can scan with the method.
    static bool Supports(Method method);
    Method method() const { return m_method; }

    // Scans data[0, length). False when the sink ended the scan.
    bool scan(const char* data, qsizetype length, LinkSink& sink) const;

private:
    Method m_method;
};
