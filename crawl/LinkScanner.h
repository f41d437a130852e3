#pragma once

#include <QtGlobal>

// What a matched attribute holds: an HTML link (href), a file link (src), or a
// list of image candidates (srcset, imagesrcset), which are file links too.
enum class LinkKind : unsigned char { Href, Src, Srcset };

// How a value is delimited: by a double quote, a single quote, or (unquoted) by
// whitespace or the end of the tag.
enum class ValueQuote : unsigned char { Double, Single, None };

// Which attribute forms the scanner looks for. The default is the textual
// pattern name="value"; anyQuotes adds single-quoted and unquoted values and
// blanks around the equals sign, srcset adds srcset="…" (and so imagesrcset).
struct ScanRules {
    bool anyQuotes = false;
    bool srcset = false;
};

struct LinkMatch {
    // The first byte of the value (0-based); it may equal the page length when
    // the page ends there.
    qsizetype valueStart = 0;
    LinkKind kind = LinkKind::Href;
    ValueQuote quote = ValueQuote::Double;

    bool isFile() const { return kind != LinkKind::Href; }
    bool operator==(const LinkMatch& o) const {
        return valueStart == o.valueStart && kind == o.kind && quote == o.quote;
    }
};

// Where the scanner sends what it finds. The scanner only finds; the sink decides
// what a match means (record it, count it, stop). Returning false from either call
// ends the scan at once.
class LinkSink {
public:
    virtual ~LinkSink() = default;

    virtual bool matched(const LinkMatch& match) = 0;

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
// is found as well. ScanRules widen the patterns, still textually: with anyQuotes
// blanks may stand around the equals sign and the value may be single-quoted or
// unquoted, as the HTML tokenizer reads attribute values.
//
// Instead of looking at a six-byte window at every position, the scanner looks
// for the rare pair '=' '"' preceded by 'c' or 'f' (16 or 32 bytes at a time with
// SSE2 or AVX2, or with memchr for '=' elsewhere) and checks the full name only
// there.
class LinkScanner {
public:
    enum class Method { Best, Memchr, Sse2, Avx2 };

    static constexpr qsizetype ChunkSize = 64 * 1024;

    explicit LinkScanner(Method method = Method::Best, ScanRules rules = {});

    // True when this build and this processor can scan with the method.
    static bool Supports(Method method);
    Method method() const { return m_method; }

    // Scans data[0, length). False when the sink ended the scan.
    bool scan(const char* data, qsizetype length, LinkSink& sink) const;

private:
    Method m_method;
    ScanRules m_rules;
};

// Where the value starting at start ends (the position of its closing quote, or
// of the blank or '>' after an unquoted value), looking at no more than the
// bytes [start, to); -1 when it does not end there.
qsizetype FindValueEnd(const char* data, qsizetype start, qsizetype to, ValueQuote quote);

// HTML whitespace: tab, line feed, form feed, carriage return and space.
inline bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
