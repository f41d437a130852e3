#include "base/CommonDialog.h"
#include "base/Messages.h"
#include "base/Shell.h"
#include "bench/QuietShell.h"
#include "export/ClipboardCopy.h"
#include "export/ListSnapshot.h"
#include "export/SaveComma.h"
#include "export/SaveList.h"
#include "lists/ListView.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {
// Answers Yes, yields nowhere: the cost measured is the export's own.

// A million results of the length a crawl typically finds.
const ListView& Results() {
    static ListView* list = [] {
        auto* results = new ListView;
        results->AddColumn(QStringLiteral("Result(s)"));
        for (int i = 0; i < 1'000'000; ++i)
            results->Add(QStringLiteral("http://host.example/dir/page%1.html").arg(i));
        return results;
    }();
    return *list;
}

void SaveInto(benchmark::State& state, void (*save)(Shell&, const ListView&, const QString&)) {
    const ListView& list = Results();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.txt"));
    QuietShell shell;
    for (auto _ : state)
        save(shell, list, path);
    state.counters["bytes"] = static_cast<double>(QFileInfo(path).size());
    state.SetItemsProcessed(state.iterations() * list.Count());
}
} // namespace

static void BM_SaveSpaced(benchmark::State& state) {
    SaveInto(state, SaveListviewProperlySpaced);
}
BENCHMARK(BM_SaveSpaced)->Unit(benchmark::kMillisecond)->MinTime(3);

static void BM_SaveCommaDelimited(benchmark::State& state) {
    SaveInto(state, SaveListviewAsCommaDelimToFile);
}
BENCHMARK(BM_SaveCommaDelimited)->Unit(benchmark::kMillisecond)->MinTime(3);

static void BM_CopyToClipboard(benchmark::State& state) {
    const ListView& list = Results();
    QuietShell shell;
    for (auto _ : state)
        CopyListviewToClipboard(shell, list);
    state.SetItemsProcessed(state.iterations() * list.Count());
}
BENCHMARK(BM_CopyToClipboard)->Unit(benchmark::kMillisecond)->MinTime(3);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
