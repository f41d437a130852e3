#include "crawl/LinkScanner.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVELLE_SCANNER_X86 1
#endif

namespace {

// ASCII letters to lower case; other bytes may change too, but only a letter can
// then equal a lower-case letter (only 'S' and 's' give 's', and so on).
inline unsigned char Lower(char c) {
    return static_cast<unsigned char>(c) | 0x20;
}

// The bytes before position end (exclusive), lower-cased, spell name.
inline bool NameEndsAt(const char* d, qsizetype end, const char* name, qsizetype size) {
    if (end < size)
        return false;
    for (qsizetype k = 0; k < size; ++k) {
        if (Lower(d[end - size + k]) != static_cast<unsigned char>(name[k]))
            return false;
    }
    return true;
}

// The attribute whose name ends just before position end, if it is one of ours.
template <bool Srcset> inline bool KindBefore(const char* d, qsizetype end, LinkKind& kind) {
    switch (Lower(d[end - 1])) {
    case 'c':
        kind = LinkKind::Src;
        return NameEndsAt(d, end, "src", 3);
    case 'f':
        kind = LinkKind::Href;
        return NameEndsAt(d, end, "href", 4);
    case 't':
        kind = LinkKind::Srcset;
        return Srcset && NameEndsAt(d, end, "srcset", 6);
    default:
        return false;
    }
}

// The equals sign at e (3 <= e < length - 1) may end a pattern: checks the value
// after it and the name before it, and hands a match to the sink. False when the
// sink ended the scan.
template <bool Any, bool Srcset>
inline bool Check(const char* d, qsizetype e, qsizetype length, LinkSink& sink) {
    LinkMatch match;
    if (!Any) {
        if (d[e + 1] != '"' || !KindBefore<Srcset>(d, e, match.kind))
            return true;
        match.valueStart = e + 2;
        return sink.matched(match);
    }
    // As the HTML tokenizer reads an attribute: blanks may stand around the
    // equals sign, and the value is double-quoted, single-quoted or unquoted.
    qsizetype n = e;
    while (n > 0 && IsHtmlSpace(d[n - 1]))
        --n;
    if (n == 0 || !KindBefore<Srcset>(d, n, match.kind))
        return true;
    qsizetype v = e + 1;
    while (v < length && IsHtmlSpace(d[v]))
        ++v;
    if (v == length)
        return true;
    match.quote = d[v] == '"'    ? ValueQuote::Double
                  : d[v] == '\'' ? ValueQuote::Single
                                 : ValueQuote::None;
    match.valueStart = match.quote == ValueQuote::None ? v : v + 1;
    return sink.matched(match);
}

// Each routine below looks at the equals signs at positions [lo, hi), where
// 3 <= lo and hi < length, so that every byte it reads lies inside the page.

template <bool Any, bool Srcset>
bool ScanRangeMemchr(const char* d, qsizetype lo, qsizetype hi, qsizetype length, LinkSink& sink) {
    const char* p = d + lo;
    const char* const end = d + hi;
    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, '=', static_cast<size_t>(end - p)));
        if (p == nullptr)
            break;
        if (!Check<Any, Srcset>(d, p - d, length, sink))
            return false;
        ++p;
    }
    return true;
}

template <bool Any, bool Srcset>
bool ScanTail(const char* d, qsizetype e, qsizetype hi, qsizetype length, LinkSink& sink) {
    for (; e < hi; ++e) {
        if (d[e] == '=' && !Check<Any, Srcset>(d, e, length, sink))
            return false;
    }
    return true;
}

#ifdef ORVELLE_SCANNER_X86

// A lane is a candidate where the byte is '=', the next one '"' and the one before
// 'c' or 'f' in either case ('t' too for srcset); with any quotes, any '=' after
// one of those letters or a blank. Check() confirms the rest. These are the
// candidates among the 16 equals signs that may stand at d[e .. e + 15].
template <bool Any, bool Srcset>
__attribute__((target("sse2"))) inline unsigned CandidatesSse2(const char* d, qsizetype e) {
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + e));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + e - 1));
    const __m128i prev = _mm_or_si128(before, _mm_set1_epi8(0x20));
    __m128i pair = _mm_cmpeq_epi8(cur, _mm_set1_epi8('='));
    if (!Any) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + e + 1));
        pair = _mm_and_si128(pair, _mm_cmpeq_epi8(next, _mm_set1_epi8('"')));
    }
    __m128i name = _mm_or_si128(_mm_cmpeq_epi8(prev, _mm_set1_epi8('c')),
                                _mm_cmpeq_epi8(prev, _mm_set1_epi8('f')));
    if (Srcset)
        name = _mm_or_si128(name, _mm_cmpeq_epi8(prev, _mm_set1_epi8('t')));
    if (Any) // a byte up to 0x20: the blanks among them
        name =
            _mm_or_si128(name, _mm_cmpeq_epi8(_mm_min_epu8(before, _mm_set1_epi8(0x20)), before));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(pair, name)));
}

template <bool Any, bool Srcset>
__attribute__((target("sse2"))) bool ScanRangeSse2(const char* d, qsizetype lo, qsizetype hi,
                                                   qsizetype length, LinkSink& sink) {
    qsizetype e = lo;
    // Reads d[e - 1 .. e + 64]; e + 64 <= hi < length keeps that inside the page.
    for (; e + 64 <= hi; e += 64) {
        quint64 bits = CandidatesSse2<Any, Srcset>(d, e) |
                       CandidatesSse2<Any, Srcset>(d, e + 16) << 16 |
                       quint64(CandidatesSse2<Any, Srcset>(d, e + 32)) << 32 |
                       quint64(CandidatesSse2<Any, Srcset>(d, e + 48)) << 48;
        while (bits != 0) {
            if (!Check<Any, Srcset>(d, e + __builtin_ctzll(bits), length, sink))
                return false;
            bits &= bits - 1;
        }
    }
    return ScanTail<Any, Srcset>(d, e, hi, length, sink);
}

// The candidates among the 32 equals signs that may stand at d[e .. e + 31].
template <bool Any, bool Srcset>
__attribute__((target("avx2"))) inline unsigned CandidatesAvx2(const char* d, qsizetype e) {
    const __m256i cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + e));
    const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + e - 1));
    const __m256i prev = _mm256_or_si256(before, _mm256_set1_epi8(0x20));
    __m256i pair = _mm256_cmpeq_epi8(cur, _mm256_set1_epi8('='));
    if (!Any) {
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + e + 1));
        pair = _mm256_and_si256(pair, _mm256_cmpeq_epi8(next, _mm256_set1_epi8('"')));
    }
    __m256i name = _mm256_or_si256(_mm256_cmpeq_epi8(prev, _mm256_set1_epi8('c')),
                                   _mm256_cmpeq_epi8(prev, _mm256_set1_epi8('f')));
    if (Srcset)
        name = _mm256_or_si256(name, _mm256_cmpeq_epi8(prev, _mm256_set1_epi8('t')));
    if (Any)
        name = _mm256_or_si256(
            name, _mm256_cmpeq_epi8(_mm256_min_epu8(before, _mm256_set1_epi8(0x20)), before));
    return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(pair, name)));
}

template <bool Any, bool Srcset>
__attribute__((target("avx2"))) bool ScanRangeAvx2(const char* d, qsizetype lo, qsizetype hi,
                                                   qsizetype length, LinkSink& sink) {
    qsizetype e = lo;
    // Reads d[e - 1 .. e + 64]; e + 64 <= hi < length keeps that inside the page.
    for (; e + 64 <= hi; e += 64) {
        quint64 bits = CandidatesAvx2<Any, Srcset>(d, e) |
                       quint64(CandidatesAvx2<Any, Srcset>(d, e + 32)) << 32;
        while (bits != 0) {
            if (!Check<Any, Srcset>(d, e + __builtin_ctzll(bits), length, sink))
                return false;
            bits &= bits - 1;
        }
    }
    return ScanTail<Any, Srcset>(d, e, hi, length, sink);
}

#endif

template <bool Any, bool Srcset>
bool ScanWith(LinkScanner::Method method, const char* data, qsizetype length, LinkSink& sink) {
    // The equals sign of a match stands at 3 or later ("src" before it) and before
    // the last byte (the value after it).
    const qsizetype first = 3;
    const qsizetype last = length - 1;
    for (qsizetype lo = first; lo < last;) {
        const qsizetype hi = std::min(lo + LinkScanner::ChunkSize, last);
        bool goOn = true;
        switch (method) {
#ifdef ORVELLE_SCANNER_X86
        case LinkScanner::Method::Avx2:
            goOn = ScanRangeAvx2<Any, Srcset>(data, lo, hi, length, sink);
            break;
        case LinkScanner::Method::Sse2:
            goOn = ScanRangeSse2<Any, Srcset>(data, lo, hi, length, sink);
            break;
#endif
        default:
            goOn = ScanRangeMemchr<Any, Srcset>(data, lo, hi, length, sink);
            break;
        }
        if (!goOn)
            return false;
        lo = hi;
        if (lo < last && !sink.progress(lo))
            return false;
    }
    return true;
}

} // namespace

LinkScanner::LinkScanner(Method method, ScanRules rules) : m_method(method), m_rules(rules) {
    if (m_method == Method::Best) {
        m_method = Supports(Method::Avx2)   ? Method::Avx2
                   : Supports(Method::Sse2) ? Method::Sse2
                                            : Method::Memchr;
    } else if (!Supports(m_method)) {
        m_method = Method::Memchr;
    }
}

bool LinkScanner::Supports(Method method) {
    switch (method) {
    case Method::Best:
    case Method::Memchr:
        return true;
#ifdef ORVELLE_SCANNER_X86
    case Method::Sse2:
        return __builtin_cpu_supports("sse2");
    case Method::Avx2:
        return __builtin_cpu_supports("avx2");
#else
    case Method::Sse2:
    case Method::Avx2:
        return false;
#endif
    }
    return false;
}

bool LinkScanner::scan(const char* data, qsizetype length, LinkSink& sink) const {
    if (m_rules.anyQuotes)
        return m_rules.srcset ? ScanWith<true, true>(m_method, data, length, sink)
                              : ScanWith<true, false>(m_method, data, length, sink);
    return m_rules.srcset ? ScanWith<false, true>(m_method, data, length, sink)
                          : ScanWith<false, false>(m_method, data, length, sink);
}

qsizetype FindValueEnd(const char* data, qsizetype start, qsizetype to, ValueQuote quote) {
    if (start >= to)
        return -1;
    if (quote != ValueQuote::None) {
        const char q = quote == ValueQuote::Double ? '"' : '\'';
        const void* end = std::memchr(data + start, q, static_cast<size_t>(to - start));
        return end ? static_cast<const char*>(end) - data : -1;
    }
    for (qsizetype i = start; i < to; ++i) {
        if (IsHtmlSpace(data[i]) || data[i] == '>')
            return i;
    }
    return -1;
}
