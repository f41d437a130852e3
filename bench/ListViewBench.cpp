#include "lists/ListView.h"

#include <QString>
#include <benchmark/benchmark.h>

// Appending a million results, each revealed, as a long run does.
static void BM_AppendAndReveal(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    QList<QString> texts;
    texts.reserve(count);
    for (int i = 0; i < count; ++i)
        texts.append(QStringLiteral("http://host.example/dir/page%1.html").arg(i));
    for (auto _ : state) {
        ListView list;
        list.AddColumn(QStringLiteral("Result(s)"));
        for (const QString& text : texts)
            list.EnsureVisible(list.Add(text));
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_AppendAndReveal)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
