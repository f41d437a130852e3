#pragma once

#include "base/Pacer.h"
#include "crawl/CrawlScope.h"
#include "crawl/FetchAhead.h"
#include "crawl/LinkResolver.h"
#include "crawl/LinkScanner.h"
#include "crawl/ListedResult.h"
#include "crawl/RunTally.h"
#include "crawl/URLMon.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

class CrawlHost;
class ListView;

// An address in the form in which it is fetched: blanks and a leading byte-order
// mark dropped, "http://" put in front of an address without a scheme, an empty
// path made "/"; empty for a blank address.
QString PageAddressOf(const QString& address);

// The link harvester's program-wide state and routines: address set-up, the
// scan of a downloaded page, link resolution and recording, and the page visit.
class ExtractLinks {
    CrawlHost& m_host;

public:
    explicit ExtractLinks(CrawlHost& host);

    // The address being visited, in the form it is fetched (fully encoded), and
    // the address its relative links resolve against (where the page was finally
    // delivered from). PageAddress is empty for a blank address, which is not
    // to be fetched.
    QString PageAddress;
    QString BaseAddress;

    // The downloaded page, byte for byte.
    QByteArray PageBytes;
    qsizetype PageLength = 0;

    // The kind of the link being handed to RecordLink: false for an HTML link
    // (href), true for a file link (src, or srcset where the scan rules look for
    // it). LinkIsSrcset and LinkQuote say more of a file link and of how the value
    // is delimited; RecordLink reads all three.
    bool LinkIsFile = false;
    bool LinkIsSrcset = false;
    ValueQuote LinkQuote = ValueQuote::Double;

    // Per listed address: the HTML links recorded, and those still to visit with
    // their depths (steps from the listed address), in step with LinkQueue.
    QSet<QString> SeenLinks;
    QList<QString> LinkQueue;
    QList<int> LinkQueueDepths;

    // The listed address being crawled, as it stands in the list; the depth of the
    // page being visited (0 for the listed page); and the address that page was
    // finally delivered from.
    QString ListedAddress;
    int PageDepth = 0;
    QString PageFinalAddress;
    // What the crawl follows and which results it lists.
    CrawlScope Scope;
    // Told of every result listed, with where it was found.
    std::function<void(const ListedResult&)> onResultListed;

    // Brings an address into the form in which it is fetched (PageAddressOf).
    // BaseAddress becomes the same.
    void SetPageAddress(const QString& address);
    // Scans PageBytes for href and src values and records each, while the run
    // flag holds; yields now and then (YieldPlace::Scan) and stops at once when
    // the flag drops. A <base href> of the page becomes BaseAddress first.
    void ScanPageForLinks(ListView& list);
    // The attribute value starting at position p (0-based) of PageBytes, up to
    // the next double quote, as text. Empty when no quote closes it.
    QString ReadQuotedValue(qsizetype p);
    // Reads, cleans, resolves and records the value starting at position p
    // (0-based), according to LinkIsFile and the options of the window.
    void RecordLink(qsizetype p, ListView& list);

    // Visits one address: sets it up, gets its page (fetched ahead, or now), scans
    // it and lets it go. True when the page was downloaded. fileNumber is that of
    // the page file a large page is received into when pages are fetched one at a
    // time; fetched ahead, each transfer has its own.
    bool CrawlPage(ListView& list, const QString& address, int fileNumber);

    // How pages are fetched (time-outs); the command line and the tests change them.
    DownloadSettings Download;
    // Which attribute forms a page is scanned for; the command line widens them.
    ScanRules Scan;
    // The download service; its connections are kept from one page to the next.
    URLMon Transfers;
    // The pages of the run fetched ahead of its visits.
    FetchAhead Ahead{m_host, Transfers, Download, Scan, Scope};
    // What the current (or last) run has done: its visits, results and failures.
    RunTally Tally;
    // How many runs of the start button are in progress (a stopped run winds down
    // while the button already shows its start caption again).
    int RunDepth = 0;

private:
    // The position of the quote (or, unquoted, the blank or '>') that ends the
    // value starting at p, or -1 when the page ends first. Yields as it searches
    // (YieldPlace::Value).
    qsizetype findValueEnd(const QByteArray& page, qsizetype length, qsizetype p, ValueQuote quote);
    void recordLink(qsizetype p, ListView& list);
    void listResult(ListView& list, const QString& link, LinkKind kind);

    LinkResolver m_resolver;
    // Where the value of the page's base element starts (-1: none), and the
    // address the page came from, which that value resolves against.
    qsizetype m_baseHrefStart = -1;
    QString m_deliveryAddress;
    // Paces the value reader's yields over a whole scan.
    std::optional<Pacer> m_valuePacer;
};
