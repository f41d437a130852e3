#include "base/CommonDialog.h"
#include "base/Shell.h"
#include "bench/QuietShell.h"
#include "lists/FileToList.h"
#include "lists/ListView.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {} // namespace

// "Load URL List From File" with a list of a million addresses, CR LF line ends.
static void BM_LoadUrlListFile(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("urls.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot write the list");
            return;
        }
        QByteArray bytes;
        for (int i = 0; i < state.range(0); ++i)
            bytes += "www.site" + QByteArray::number(i) + ".example/index.html\r\n";
        file.write(bytes);
    }
    QuietShell shell;
    for (auto _ : state) {
        ListView list;
        LoadFileToListview(shell, list, path);
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadUrlListFile)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
