#pragma once

#include "crawl/CrawlStats.h"
#include "crawl/URLMon.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

class Form1;
class ListView;

// The link harvester's program-wide state and routines: address set-up, the
// scan of a downloaded page, link resolution and recording, and the page visit.
class ExtractLinks {
public:
    explicit ExtractLinks(Form1& form);

    // The address being visited, in the form it is fetched, and the address its
    // relative links resolve against (where the page was finally delivered from).
    QString PageAddress;
    QString BaseAddress;

    // The downloaded page, byte for byte.
    QByteArray PageBytes;
    qsizetype PageLength = 0;

    // The kind of the link being handed to RecordLink: false for an HTML link
    // (href), true for a file link (src).
    bool LinkIsFile = false;

    // Per listed address: the HTML links recorded, and those still to visit.
    QSet<QString> SeenLinks;
    QList<QString> LinkQueue;

    void SetPageAddress(const QString& address);
    void ScanPageForLinks(ListView& list);
    // The attribute value starting at position p (0-based) of PageBytes.
    QString ReadQuotedValue(qsizetype p);
    // Reads, resolves and records the value starting at position p (0-based).
    void RecordLink(qsizetype p, ListView& list);

    // Visits one address: sets it up, downloads it into the page file, scans it
    // and deletes the file. True when the page was downloaded.
    bool CrawlPage(ListView& list, const QString& address, int fileNumber);

    // How pages are fetched (time-outs); the command line and the tests change them.
    DownloadSettings Download;
    // The download service; its connections are kept from one page to the next.
    URLMon Transfers;
    // Where the time of the visits went.
    CrawlStats Stats;
    // How many runs of the start button are in progress (a stopped run winds down
    // while the button already shows its start caption again).
    int RunDepth = 0;

private:
    Form1& m_form;
};
