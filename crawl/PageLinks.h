#pragma once

#include "crawl/LinkScanner.h"

#include <QSet>
#include <QString>
#include <algorithm>

class CrawlScope;

// An address in the form in which it is fetched: blanks and a leading byte-order
// mark dropped, "http://" put in front of an address without a scheme, an empty
// path made "/"; empty for a blank address.
QString PageAddressOf(const QString& address);
// True when address names a scheme other than http or https: "scheme://..." (RFC
// 3986 section 3.1), or one of the schemes written without slashes that pages
// link to (javascript:, mailto:, data:). "host:port" names none.
bool NamesAnotherScheme(const QString& address);

// A value found on a page, resolved as the crawl takes it.
struct PageLink {
    // The resolved address: an HTML link without its fragment, a file link as
    // found; the value as written when it does not resolve.
    QString link;
    LinkKind kind = LinkKind::Href;
    // An http or https address with a host: one the crawl could visit.
    bool visitable = false;
    // Where a visitable link is fetched (PageAddressOf), for a page read ahead of
    // its visit; empty otherwise.
    QString fetchAs;

    bool isFile() const { return kind != LinkKind::Href; }
};

// Where the links of a page go as they are read, and what the reading asks of its
// reader: whether to go on, and whether a kind of link is wanted at all.
class PageLinkSink {
public:
    // Before each value is read; false ends the reading there.
    virtual bool next() { return true; }
    // Between two stretches of the page, scanned bytes looked at so far; false
    // ends the reading there.
    virtual bool progress(qsizetype scanned) {
        (void)scanned;
        return true;
    }
    // Once the base element is known: false ends the reading before any value.
    virtual bool proceed() { return true; }
    // Before each stretch of a long value is looked at.
    virtual void valueStretch() {}
    // False when links of this kind are dropped unread (checked at each link).
    virtual bool wants(LinkKind kind) {
        (void)kind;
        return true;
    }
    virtual void found(PageLink&& link) = 0;

protected:
    ~PageLinkSink() = default;
};

// Reads the links of a page in page order: every value the scan rules find,
// cleaned and resolved against the page's base address (its <base href>, itself
// resolved against delivery, the address the page came from); each candidate of
// a srcset on its own. A value that no quote closes before the end of the page is
// dropped. Returns the page's base address.
QString ReadPageLinks(const char* page, qsizetype length, const QString& delivery,
                      const ScanRules& rules, PageLinkSink& sink);

// The position of the quote (or, unquoted, the blank or '>') that ends the value
// starting at p, or -1 when the page ends first. It looks at one stretch of
// LinkScanner::ChunkSize bytes at a time, calling beforeStretch before each, so
// that even a value of megabytes can be paced.
template <class F>
qsizetype FindValueEndPaced(const char* page, qsizetype length, qsizetype p, ValueQuote quote,
                            F&& beforeStretch);

// What the crawl of a listed address does with an HTML link found on a page at
// depth: it is new the first time it is seen, and then followed one step deeper
// when it can be visited and the scope follows it there. The visits and the
// pages fetched ahead of them take their links here alike.
struct TakenLink {
    bool first = false;
    bool followed = false;
};
TakenLink TakeLink(const PageLink& link, int depth, QSet<QString>& seen, const CrawlScope& scope);

template <class F>
qsizetype FindValueEndPaced(const char* page, qsizetype length, qsizetype p, ValueQuote quote,
                            F&& beforeStretch) {
    if (p < 0 || p >= length)
        return -1;
    for (qsizetype from = p; from < length; from += LinkScanner::ChunkSize) {
        beforeStretch();
        const qsizetype to = from + std::min(LinkScanner::ChunkSize, length - from);
        const qsizetype end = FindValueEnd(page, from, to, quote);
        if (end >= 0)
            return end;
    }
    return -1;
}
