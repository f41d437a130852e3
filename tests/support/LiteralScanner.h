#pragma once

#include "crawl/LinkScanner.h"

#include <ostream>
#include <vector>

// The link scanner written the plain way, one position at a time: at every
// position the six bytes from there, lower-cased, are compared with the href
// pattern and their first five with the src pattern. Slow and obviously right;
// the tests hold the fast scanner to it and the benchmark measures against it.
// False when the sink ended the scan.
bool LiteralScan(const char* data, qsizetype length, LinkSink& sink);

// One match as a sink receives it.
struct Match {
    qsizetype valueStart;
    bool isFile;
    bool operator==(const Match& o) const {
        return valueStart == o.valueStart && isFile == o.isFile;
    }
};

inline void PrintTo(const Match& m, std::ostream* os) {
    *os << (m.isFile ? "src@" : "href@") << m.valueStart;
}

// Keeps every match, in order.
class CollectingSink : public LinkSink {
public:
    std::vector<Match> matches;
    int progressCalls = 0;
    // Ends the scan at the n-th match (1-based) when set; 0 never.
    size_t stopAtMatch = 0;
    bool matched(qsizetype valueStart, bool isFile) override {
        matches.push_back({valueStart, isFile});
        return matches.size() != stopAtMatch;
    }
    bool progress(qsizetype) override {
        ++progressCalls;
        return true;
    }
};

// The matches of the literal scanner over a whole buffer.
inline std::vector<Match> LiteralMatches(const char* data, qsizetype length) {
    CollectingSink sink;
    LiteralScan(data, length, sink);
    return sink.matches;
}
