// The scanner with recording: a page of any bytes scanned into the results list
// during a run, under either option, against an address that may be anything.
//
// Input: one byte of flags, then (flag 2) an address up to the first line feed,
// then the page.
//   flag 1: "Retrieve file links" instead of "Retrieve HTML links"
//   flag 2: the address comes from the input (else a fixed page address)
//   flag 4: PageLength says more bytes than the buffer holds
//
// Checks, besides the sanitizers: every scanning method finds exactly what the
// literal scanner finds; what is listed agrees with what was seen and queued.
#include "crawl/HarvestRun.h"
#include "crawl/LinkScanner.h"
#include "fuzz/support/FuzzSupport.h"
#include "tests/support/LiteralScanner.h"
#include "window/Form1.h"

#include <QSet>
#include <vector>

namespace {

std::vector<Match> Scan(const QByteArray& page, LinkScanner::Method method) {
    CollectingSink sink;
    LinkScanner(method).scan(page.constData(), page.size(), sink);
    return sink.matches;
}

void CheckScanners(const QByteArray& page) {
    const std::vector<Match> literal = LiteralMatches(page.constData(), page.size());
    for (auto method :
         {LinkScanner::Method::Memchr, LinkScanner::Method::Sse2, LinkScanner::Method::Avx2}) {
        if (!LinkScanner::Supports(method))
            continue;
        FuzzCheck(Scan(page, method) == literal, "a scanning method differs from the "
                                                 "literal scanner");
    }
}

// File links whose value a double quote closes: each is listed once per match.
int ClosedFileLinks(const QByteArray& page) {
    int n = 0;
    for (const Match& m : LiteralMatches(page.constData(), page.size())) {
        if (m.isFile() && page.indexOf('"', m.valueStart) >= 0)
            ++n;
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const unsigned flags = data[0];
    QByteArray rest(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    QString address = QStringLiteral("http://host.example/dir/page.html");
    if (flags & 2) {
        const qsizetype lf = rest.indexOf('\n');
        address = QString::fromUtf8(rest.left(lf < 0 ? rest.size() : lf));
        rest = lf < 0 ? QByteArray() : rest.mid(lf + 1);
    }

    NullShell shell;
    Form1 form(shell);
    form.setPushButton7Caption(Form1::StopCaption);
    form.setOption2(flags & 1);
    HarvestRun& links = form.harvestRun();
    links.SetPageAddress(address);
    links.page.bytes = rest;
    links.page.length = rest.size() + ((flags & 4) ? 17 : 0);
    links.ScanPageForLinks();

    CheckScanners(rest);

    const QStringList listed = form.ListView2.Texts();
    FuzzCheck(links.crawl.queue.size() <= links.crawl.seen.size(), "more queued than seen");
    const QSet<QString> queued(links.crawl.queue.begin(), links.crawl.queue.end());
    FuzzCheck(queued.size() == links.crawl.queue.size(), "a link queued twice");
    for (const QString& link : links.crawl.queue)
        FuzzCheck(links.crawl.seen.contains(link), "a queued link was not seen", link);
    if (flags & 1) {
        FuzzCheck(listed.size() == ClosedFileLinks(rest), "not every file link listed once");
    } else {
        FuzzCheck(listed.size() == links.crawl.seen.size(), "not every HTML link listed once");
        for (const QString& link : listed)
            FuzzCheck(links.crawl.seen.contains(link), "a listed link was not seen", link);
    }
    return 0;
}
