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

// The equals sign at e (3 <= e < length - 1) may end a pattern: checks the quote
// after it and the name before it, and hands a match to the sink. False when the
// sink ended the scan.
inline bool Check(const char* d, qsizetype e, LinkSink& sink) {
    if (d[e + 1] != '"')
        return true;
    const unsigned char last = Lower(d[e - 1]);
    if (last == 'c') {
        if (Lower(d[e - 2]) == 'r' && Lower(d[e - 3]) == 's')
            return sink.matched(e + 2, true);
    } else if (last == 'f') {
        if (e >= 4 && Lower(d[e - 2]) == 'e' && Lower(d[e - 3]) == 'r' && Lower(d[e - 4]) == 'h')
            return sink.matched(e + 2, false);
    }
    return true;
}

// Each routine below looks at the equals signs at positions [lo, hi), where
// 3 <= lo and hi < length, so that every byte it reads lies inside the page.

bool ScanRangeMemchr(const char* d, qsizetype lo, qsizetype hi, LinkSink& sink) {
    const char* p = d + lo;
    const char* const end = d + hi;
    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, '=', static_cast<size_t>(end - p)));
        if (p == nullptr)
            break;
        if (!Check(d, p - d, sink))
            return false;
        ++p;
    }
    return true;
}

bool ScanTail(const char* d, qsizetype e, qsizetype hi, LinkSink& sink) {
    for (; e < hi; ++e) {
        if (d[e] == '=' && !Check(d, e, sink))
            return false;
    }
    return true;
}

#ifdef ORVELLE_SCANNER_X86

// A lane is a candidate where the byte is '=', the next one '"' and the one before
// 'c' or 'f' in either case; Check() confirms the rest of the name. These are the
// candidates among the 16 equals signs that may stand at d[e .. e + 15].
__attribute__((target("sse2"))) inline unsigned CandidatesSse2(const char* d, qsizetype e) {
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + e));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + e + 1));
    const __m128i prev = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + e - 1)),
                                      _mm_set1_epi8(0x20));
    const __m128i pair = _mm_and_si128(_mm_cmpeq_epi8(cur, _mm_set1_epi8('=')),
                                       _mm_cmpeq_epi8(next, _mm_set1_epi8('"')));
    const __m128i name = _mm_or_si128(_mm_cmpeq_epi8(prev, _mm_set1_epi8('c')),
                                      _mm_cmpeq_epi8(prev, _mm_set1_epi8('f')));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(pair, name)));
}

__attribute__((target("sse2"))) bool ScanRangeSse2(const char* d, qsizetype lo, qsizetype hi,
                                                   LinkSink& sink) {
    qsizetype e = lo;
    // Reads d[e - 1 .. e + 64]; e + 64 <= hi < length keeps that inside the page.
    for (; e + 64 <= hi; e += 64) {
        quint64 bits = CandidatesSse2(d, e) | CandidatesSse2(d, e + 16) << 16 |
                       quint64(CandidatesSse2(d, e + 32)) << 32 |
                       quint64(CandidatesSse2(d, e + 48)) << 48;
        while (bits != 0) {
            if (!Check(d, e + __builtin_ctzll(bits), sink))
                return false;
            bits &= bits - 1;
        }
    }
    return ScanTail(d, e, hi, sink);
}

// The candidates among the 32 equals signs that may stand at d[e .. e + 31].
__attribute__((target("avx2"))) inline unsigned CandidatesAvx2(const char* d, qsizetype e) {
    const __m256i cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + e));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + e + 1));
    const __m256i prev = _mm256_or_si256(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + e - 1)), _mm256_set1_epi8(0x20));
    const __m256i pair = _mm256_and_si256(_mm256_cmpeq_epi8(cur, _mm256_set1_epi8('=')),
                                          _mm256_cmpeq_epi8(next, _mm256_set1_epi8('"')));
    const __m256i name = _mm256_or_si256(_mm256_cmpeq_epi8(prev, _mm256_set1_epi8('c')),
                                         _mm256_cmpeq_epi8(prev, _mm256_set1_epi8('f')));
    return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(pair, name)));
}

__attribute__((target("avx2"))) bool ScanRangeAvx2(const char* d, qsizetype lo, qsizetype hi,
                                                   LinkSink& sink) {
    qsizetype e = lo;
    // Reads d[e - 1 .. e + 64]; e + 64 <= hi < length keeps that inside the page.
    for (; e + 64 <= hi; e += 64) {
        quint64 bits = CandidatesAvx2(d, e) | quint64(CandidatesAvx2(d, e + 32)) << 32;
        while (bits != 0) {
            if (!Check(d, e + __builtin_ctzll(bits), sink))
                return false;
            bits &= bits - 1;
        }
    }
    return ScanTail(d, e, hi, sink);
}

#endif

} // namespace

LinkScanner::LinkScanner(Method method) : m_method(method) {
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
    // The equals sign of a match stands at 3 or later ("src" before it) and before
    // the last byte (the quote after it).
    const qsizetype first = 3;
    const qsizetype last = length - 1;
    for (qsizetype lo = first; lo < last;) {
        const qsizetype hi = std::min(lo + ChunkSize, last);
        bool goOn = true;
        switch (m_method) {
#ifdef ORVELLE_SCANNER_X86
        case Method::Avx2:
            goOn = ScanRangeAvx2(data, lo, hi, sink);
            break;
        case Method::Sse2:
            goOn = ScanRangeSse2(data, lo, hi, sink);
            break;
#endif
        default:
            goOn = ScanRangeMemchr(data, lo, hi, sink);
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
