#pragma once

#include "crawl/LinkScanner.h"

#include <ostream>
#include <vector>

// The link scanner written the plain way, one position at a time: at every
// position the name (href, src, and srcset when the rules say so) is compared
// with the bytes there, lower-cased, and then what must follow it (an equals
// sign and a double quote; with any quotes, blanks, an equals sign, blanks and
// any value). Slow and obviously right; the tests hold the fast scanner to it
// and the benchmark measures against it. False when the sink ended the scan.
bool LiteralScan(const char* data, qsizetype length, LinkSink& sink, ScanRules rules = {});

using Match = LinkMatch;

inline Match Href(qsizetype at, ValueQuote quote = ValueQuote::Double) {
    return {at, LinkKind::Href, quote};
}
inline Match Src(qsizetype at, ValueQuote quote = ValueQuote::Double) {
    return {at, LinkKind::Src, quote};
}
inline Match Srcset(qsizetype at, ValueQuote quote = ValueQuote::Double) {
    return {at, LinkKind::Srcset, quote};
}

inline void PrintTo(const Match& m, std::ostream* os) {
    static const char* const kinds[] = {"href", "src", "srcset"};
    static const char* const quotes[] = {"\"", "'", ""};
    *os << kinds[int(m.kind)] << quotes[int(m.quote)] << "@" << m.valueStart;
}

// Keeps every match, in order.
class CollectingSink : public LinkSink {
public:
    std::vector<Match> matches;
    int progressCalls = 0;
    // Ends the scan at the n-th match (1-based) when set; 0 never.
    size_t stopAtMatch = 0;
    bool matched(const LinkMatch& match) override {
        matches.push_back(match);
        return matches.size() != stopAtMatch;
    }
    bool progress(qsizetype) override {
        ++progressCalls;
        return true;
    }
};

// The matches of the literal scanner over a whole buffer.
inline std::vector<Match> LiteralMatches(const char* data, qsizetype length, ScanRules rules = {}) {
    CollectingSink sink;
    LiteralScan(data, length, sink, rules);
    return sink.matches;
}
