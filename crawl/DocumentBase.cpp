#include "crawl/DocumentBase.h"

#include "crawl/LinkResolver.h"
#include "crawl/LinkValue.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

inline unsigned char Lower(char c) {
    return static_cast<unsigned char>(c) | 0x20;
}

// The first '<' in [from, to - 1) that a 'b' or 'B' follows, or -1.
qsizetype FindTagB(const char* d, qsizetype from, qsizetype to) {
    qsizetype i = from;
#ifdef __SSE2__
    // Reads d[i .. i + 16]; i + 17 <= to keeps that inside.
    for (; i + 17 <= to; i += 16) {
        const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i next = _mm_or_si128(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + 1)), _mm_set1_epi8(0x20));
        const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
            _mm_cmpeq_epi8(cur, _mm_set1_epi8('<')), _mm_cmpeq_epi8(next, _mm_set1_epi8('b')))));
        if (bits != 0)
            return i + __builtin_ctz(bits);
    }
#endif
    for (; i + 1 < to; ++i) {
        if (d[i] == '<' && Lower(d[i + 1]) == 'b')
            return i;
    }
    return -1;
}

// Takes the first href match of a tag's attributes.
class HrefSink : public LinkSink {
public:
    std::optional<LinkMatch> href;
    bool matched(const LinkMatch& match) override {
        if (match.kind != LinkKind::Href)
            return true;
        href = match;
        return false;
    }
};

} // namespace

std::optional<LinkMatch> FindBaseHref(const char* data, qsizetype length, ScanRules rules,
                                      LinkSink& progress) {
    const LinkScanner scanner(LinkScanner::Method::Best, {rules.anyQuotes, false});
    for (qsizetype lo = 0; lo < length;) {
        const qsizetype hi = std::min(lo + LinkScanner::ChunkSize, length);
        qsizetype tag = FindTagB(data, lo, std::min(hi + 1, length));
        for (; tag >= 0; tag = FindTagB(data, tag + 1, std::min(hi + 1, length))) {
            // "<base" and then a blank, a '/' or the end of the tag.
            const qsizetype nameEnd = tag + 5;
            if (nameEnd >= length || Lower(data[tag + 2]) != 'a' || Lower(data[tag + 3]) != 's' ||
                Lower(data[tag + 4]) != 'e')
                continue;
            const char after = data[nameEnd];
            if (!IsHtmlSpace(after) && after != '/' && after != '>')
                continue;
            const void* close =
                std::memchr(data + nameEnd, '>', static_cast<size_t>(length - nameEnd));
            const qsizetype tagEnd = close ? static_cast<const char*>(close) - data : length;
            HrefSink sink;
            scanner.scan(data + tag, tagEnd - tag, sink);
            if (sink.href) {
                sink.href->valueStart += tag;
                return sink.href;
            }
        }
        lo = hi;
        if (lo < length && !progress.progress(lo))
            return std::nullopt;
    }
    return std::nullopt;
}

QString DocumentBase(const char* data, qsizetype length, const QString& address, ScanRules rules,
                     LinkSink& progress, qsizetype* hrefStart) {
    const std::optional<LinkMatch> href = FindBaseHref(data, length, rules, progress);
    if (hrefStart)
        *hrefStart = href ? href->valueStart : -1;
    if (!href)
        return address;
    const qsizetype end = FindValueEnd(data, href->valueStart, length, href->quote);
    if (end < 0)
        return address;
    LinkResolver resolver;
    resolver.setBase(address);
    const LinkResolver::Result base =
        resolver.resolve(CleanLinkValue(data + href->valueStart, end - href->valueStart), false);
    return base.visitable ? base.link : address;
}
