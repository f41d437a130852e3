// A long URL list spread over several orvelle-harvest processes with GNU parallel,
// as the README shows it: in the lines format, without --max-pages, the output of
// `parallel --pipe -k -N 100 orvelle-harvest -q -i -` is the output of one run on
// the whole list.
#include "tests/support/LoopbackServer.h"
#include "tests/support/RunSummary.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace {

const QString HarvestPath = QStringLiteral(ORVELLE_HARVEST_PATH);
constexpr int ListedPages = 250;
constexpr int ChunkLines = 100;

struct ListRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs program with the list on its standard input; page folders, and whatever
// parallel keeps in its home, go to a temporary folder.
ListRun runWithList(const QString& program, const QStringList& arguments, const std::string& list) {
    QTemporaryDir temp;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"TMPDIR", "TEMP", "HOME"})
        env.insert(QString::fromLatin1(name), temp.path());
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        ADD_FAILURE() << "cannot start " << program.toStdString();
        return {};
    }
    process.write(list.data(), static_cast<qint64>(list.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(100000)) {
        ADD_FAILURE() << program.toStdString() << " did not end";
        process.kill();
        process.waitForFinished();
    }
    ListRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    TakeSummary(run.err);
    // Every program took its page folder with it.
    EXPECT_EQ(
        QDir(temp.path())
            .entryList(QStringList{QStringLiteral("orvelle*")}, QDir::AllEntries | QDir::Hidden),
        QStringList());
    return run;
}

size_t countLines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

// Page /p/N links to the next page, to a page of its own, twice to a page that
// every page links to, and to another host; one listed address is missing, and
// some are listed twice, in different chunks.
TEST(ParallelHarvest, ChunksOverGnuParallelEqualOneRun) {
    const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
    if (parallel.isEmpty())
        GTEST_SKIP() << "GNU parallel is not installed (scripts/install-deps --packaging)";

    LoopbackServer server;
    server.server().Get(R"(/p/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const int n = std::stoi(req.matches[1]);
        const std::string next = std::to_string(n + 1);
        const std::string own = std::to_string(n);
        res.set_content("<a href=\"/p/" + next +
                            "\">next</a> <a href=\"shared.html\">s</a>\n"
                            "<a href=\"/own/" +
                            own +
                            ".html\">own</a> <A HREF=\"shared.html\">s</A>\n"
                            "<a href=\"http://other.example/" +
                            std::to_string(n % 7) + "\">x</a>\n",
                        "text/html");
    });
    server.status("/missing", 404);
    server.start();

    std::string list;
    for (int n = 0; n < ListedPages; ++n) {
        list += server.url("/p/" + std::to_string(n)).toStdString() + "\n";
        if (n == 42)
            list += server.url("/missing").toStdString() + "\n";
        if (n % 90 == 5) // listed again further down, in another chunk
            list += server.url("/p/" + std::to_string(n / 3)).toStdString() + "\n";
    }
    ASSERT_GT(countLines(list), size_t{2 * ChunkLines});

    const QStringList harvest = {QStringLiteral("-q"), QStringLiteral("--format"),
                                 QStringLiteral("lines"), QStringLiteral("-i"),
                                 QStringLiteral("-")};
    const ListRun whole = runWithList(HarvestPath, harvest, list);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(whole.err, "");

    const QStringList spread = QStringList{QStringLiteral("--will-cite"), QStringLiteral("--pipe"),
                                           QStringLiteral("-k"),          QStringLiteral("-N"),
                                           QString::number(ChunkLines),   HarvestPath} +
                               harvest;
    const ListRun chunks = runWithList(parallel, spread, list);
    ASSERT_EQ(chunks.exitCode, 0) << chunks.err;
    EXPECT_EQ(chunks.err, "");

    // The whole run found something on every page, and the chunks found the same,
    // in the same order.
    EXPECT_GE(countLines(whole.out), size_t{ListedPages * 4});
    EXPECT_NE(whole.out.find(server.url("/p/shared.html").toStdString() + "\n"), std::string::npos);
    EXPECT_EQ(chunks.out, whole.out);
}
