// The link scanner and the whole handling of a page, in MB/s of page.
//
// Real HTML is the corpus made by scripts/bench-corpus (about 100 MB of Debian's
// Python documentation), named by ORVELLE_BENCH_CORPUS; `make bench` makes it.
// The dense case is the worst a page can be for the scanner: a match every six
// bytes.

#include "base/Shell.h"
#include "bench/QuietShell.h"
#include "crawl/HarvestRun.h"
#include "crawl/LinkScanner.h"
#include "tests/support/LiteralScanner.h"
#include "window/Form1.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <benchmark/benchmark.h>
#include <cstring>

namespace {

const QByteArray& Corpus() {
    static const QByteArray corpus = [] {
        QFile file(
            qEnvironmentVariable("ORVELLE_BENCH_CORPUS", QStringLiteral("bench-corpus.html")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return corpus;
}

const QByteArray& Dense() {
    static const QByteArray dense = QByteArray("src=\"\"").repeated(32 * 1024 * 1024 / 6);
    return dense;
}

enum Input { RealHtml, DenseCase };

const QByteArray* PageFor(benchmark::State& state) {
    const QByteArray& page = state.range(0) == RealHtml ? Corpus() : Dense();
    if (page.isEmpty()) {
        state.SkipWithError("no corpus: run scripts/bench-corpus build/bench-corpus.html and "
                            "set ORVELLE_BENCH_CORPUS to it");
        return nullptr;
    }
    state.SetLabel(state.range(0) == RealHtml ? "real HTML" : "dense");
    return &page;
}

// Page bytes per second, in decimal units (6.5G/s is 6,500 MB/s), and what
// was found: matches for the scanners, results listed for the whole page.
void ReportRate(benchmark::State& state, const QByteArray& page, qint64 found) {
    state.counters["bytes"] = benchmark::Counter(static_cast<double>(page.size()),
                                                 benchmark::Counter::kIsIterationInvariantRate,
                                                 benchmark::Counter::OneK::kIs1000);
    state.counters["found"] = static_cast<double>(found);
}

class CountingSink : public LinkSink {
public:
    qint64 count = 0;
    bool matched(const LinkMatch&) override {
        ++count;
        return true;
    }
};

// The speed of memory: memchr for a byte the page does not hold.
void BM_Memchr(benchmark::State& state) {
    const QByteArray* page = PageFor(state);
    if (page == nullptr)
        return;
    for (auto _ : state)
        benchmark::DoNotOptimize(std::memchr(page->constData(), '\x01', page->size()));
    ReportRate(state, *page, 0);
}

void BM_LiteralScanner(benchmark::State& state) {
    const QByteArray* page = PageFor(state);
    if (page == nullptr)
        return;
    qint64 matches = 0;
    for (auto _ : state) {
        CountingSink sink;
        LiteralScan(page->constData(), page->size(), sink);
        matches = sink.count;
    }
    ReportRate(state, *page, matches);
}

void BM_LinkScanner(benchmark::State& state, LinkScanner::Method method) {
    const QByteArray* page = PageFor(state);
    if (page == nullptr)
        return;
    if (!LinkScanner::Supports(method)) {
        state.SkipWithError("not supported on this processor");
        return;
    }
    // range(1): 0 the default rules, 1 any quotes, 2 srcset, 3 both.
    const ScanRules rules{(state.range(1) & 1) != 0, (state.range(1) & 2) != 0};
    const LinkScanner scanner(method, rules);
    qint64 matches = 0;
    for (auto _ : state) {
        CountingSink sink;
        scanner.scan(page->constData(), page->size(), sink);
        matches = sink.count;
    }
    ReportRate(state, *page, matches);
}

// Everything a page goes through after its download: the scan, the clean-up and
// resolution of each value, SeenLinks and the results list. range(1) selects
// "Retrieve file links" instead of "Retrieve HTML links". range(2) 0 takes the
// corpus as one page; 1 takes each document in it as a page of its own address,
// one after the other as a long run visits them (SeenLinks kept throughout).
// range(3), when given, widens the rules as BM_LinkScanner's range(1) does.
void BM_WholePage(benchmark::State& state) {
    const QByteArray* corpus = PageFor(state);
    if (corpus == nullptr)
        return;
    QList<QByteArray> pages;
    QStringList addresses;
    if (state.range(2) == 0) {
        pages.append(*corpus);
    } else {
        const QByteArray start("<!DOCTYPE");
        for (qsizetype from = 0; from < corpus->size();) {
            qsizetype next = corpus->indexOf(start, from + 1);
            if (next < 0)
                next = corpus->size();
            pages.append(QByteArray::fromRawData(corpus->constData() + from, next - from));
            from = next;
        }
    }
    for (qsizetype i = 0; i < pages.size(); ++i)
        addresses.append(QStringLiteral("http://docs.example/3.11/part%1/page.html").arg(i));
    state.SetLabel(state.range(2) == 0
                       ? "real HTML, one page"
                       : QStringLiteral("real HTML, %1 pages").arg(pages.size()).toStdString());
    QuietShell shell;
    Form1 form(shell);
    form.setOption2(state.range(1) != 0);
    form.setPushButton7Caption(Form1::StopCaption);
    HarvestRun& links = form.harvestRun();
    if (state.range(3) != 0)
        links.Settings.scan = {(state.range(3) & 1) != 0, (state.range(3) & 2) != 0};
    qint64 listed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        form.ListView2.Clear();
        links.crawl.seen.clear();
        links.crawl.queue.clear();
        state.ResumeTiming();
        for (qsizetype i = 0; i < pages.size(); ++i) {
            links.SetPageAddress(addresses[i]);
            links.page.bytes = pages[i];
            links.page.length = pages[i].size();
            links.ScanPageForLinks();
        }
        listed = form.ListView2.Count();
    }
    ReportRate(state, *corpus, listed);
}

} // namespace

BENCHMARK(BM_Memchr)->Arg(RealHtml)->Arg(DenseCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiteralScanner)->Arg(RealHtml)->Arg(DenseCase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LinkScanner, memchr, LinkScanner::Method::Memchr)
    ->ArgsProduct({{RealHtml, DenseCase}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LinkScanner, sse2, LinkScanner::Method::Sse2)
    ->ArgsProduct({{RealHtml, DenseCase}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LinkScanner, avx2, LinkScanner::Method::Avx2)
    ->ArgsProduct({{RealHtml, DenseCase}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholePage)
    ->Args({RealHtml, 0, 0, 0})
    ->Args({RealHtml, 0, 1, 0})
    ->Args({RealHtml, 1, 0, 0})
    ->Args({RealHtml, 1, 1, 0})
    ->Args({RealHtml, 1, 0, 3})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
