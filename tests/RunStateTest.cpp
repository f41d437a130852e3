// orvelle-harvest --state FILE: a run killed with SIGKILL after k visits and run
// again with the same state file ends with the output of an uninterrupted run,
// fetching only what was not committed; state files that cannot be used are
// refused and left as they were; the file can be queried as the README shows.
#include "tests/support/Files.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RunSummary.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

const QString HarvestPath = QStringLiteral(ORVELLE_HARVEST_PATH);
constexpr int Pages = 40;

struct Outcome {
    int exitCode = -1;
    bool crashed = false;
    std::string out;
    std::string err;
};

// A site of Pages pages: page n links to three others picked by n, a redirect, a
// missing page and an image of its own, so that the order of an "Extract
// forever" crawl depends on every page. Its robots.txt names a sitemap of a few
// pages (one of them linked from none) and one that fails. The server kills the
// process in *victim as the request after *killAfter page requests arrives, or
// as sitemap request number *killAtSitemap does.
class Site {
public:
    Site() {
        server.server().Get(
            R"(/p(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
                const int served = ++m_pageRequests;
                if (killAfter > 0 && served > killAfter)
                    killVictim(served - 1);
                const int n = std::stoi(req.matches[1]);
                std::string body = "<html>";
                for (int step : {1, 7, 13})
                    body += "<a href=\"/p" + std::to_string((n * step + 3) % Pages) + "\">x</a>";
                body += "<img src=\"/i" + std::to_string(n) +
                        ".png\"><a href=\"/moved\">m</a>"
                        "<a href=\"/gone\">g</a></html>";
                res.set_content(body, "text/html");
            });
        server.redirect("/moved", "/p5");
        server.status("/gone", 404);
        server.status("/bad.xml", 500);
        // The sitemaps of whichever host is asked: each listed host is a site.
        const auto here = [](const httplib::Request& req) {
            return "http://" + req.get_header_value("Host");
        };
        server.server().Get(
            "/robots.txt", [here](const httplib::Request& req, httplib::Response& res) {
                res.set_content("Sitemap: " + here(req) + "/map.xml\nSitemap: " + here(req) +
                                    "/bad.xml\n",
                                "text/plain");
            });
        server.server().Get(
            "/map.xml", [this, here](const httplib::Request& req, httplib::Response& res) {
                if (++m_sitemapRequests == killAtSitemap)
                    killVictim(m_pageRequests);
                std::string xml = "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">";
                for (const char* page : {"/p20", "/p0", "/p33", "/p99"})
                    xml += "<url><loc>" + here(req) + page + "</loc></url>";
                res.set_content(xml + "</urlset>", "application/xml");
            });
        server.start();
    }

    int pageRequests() const { return m_pageRequests; }
    void resetCount() {
        m_pageRequests = 0;
        m_sitemapRequests = 0;
    }

    LoopbackServer server;
    std::atomic<int> killAfter{0};
    std::atomic<int> killAtSitemap{0};
    std::atomic<qint64> victim{0};
    // The page requests answered before the kill.
    std::atomic<int> pagesBeforeKill{0};

private:
    void killVictim(int pages) {
        if (victim <= 0)
            return;
        pagesBeforeKill = pages;
        ::kill(victim, SIGKILL);
        victim = 0;
    }

    std::atomic<int> m_pageRequests{0};
    std::atomic<int> m_sitemapRequests{0};
};

Outcome harvest(const QStringList& arguments, Site* killer = nullptr) {
    QTemporaryDir temp;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp.path());
    // Every step is committed: a kill after k visits leaves k in the file.
    env.insert(QStringLiteral("ORVELLE_STATE_COMMIT_MS"), QStringLiteral("0"));
    process.setProcessEnvironment(env);
    process.start(HarvestPath, arguments);
    if (!process.waitForStarted()) {
        ADD_FAILURE() << "cannot start " << HarvestPath.toStdString();
        return {};
    }
    if (killer)
        killer->victim = process.processId();
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << "orvelle-harvest did not end";
        process.kill();
        process.waitForFinished();
    }
    Outcome run;
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = run.crashed ? -1 : process.exitCode();
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    TakeSummary(run.err);
    return run;
}

struct ResumeCase {
    const char* name;
    QStringList options;
    int killAfter;   // page visits before the kill; below 0: that many before the end
    bool twoListed;  // a second listed address, a crawl of its own
    bool oneAtATime; // --parallel 1: the requests made again can be counted
    // Not 0: the kill comes with that sitemap request instead, and the second
    // listed address is on another host, a site of its own.
    int killAtSitemap = 0;
};

void PrintTo(const ResumeCase& c, std::ostream* os) {
    *os << c.name;
}

const QString Sitemaps = QStringLiteral("--sitemaps");

class RunStateResume : public testing::TestWithParam<ResumeCase> {};

TEST_P(RunStateResume, KilledRunResumesToTheUninterruptedOutput) {
    const ResumeCase& c = GetParam();
    Site site;
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("run.state"));
    QStringList arguments = c.options;
    // The failure lines of the sitemaps are told again too.
    if (!c.options.contains(Sitemaps))
        arguments << QStringLiteral("-q");
    arguments << site.server.url("/p0");
    if (c.twoListed)
        arguments << (c.killAtSitemap
                          ? QStringLiteral("http://localhost:%1/p1").arg(site.server.port())
                          : site.server.url("/p1"));
    if (c.oneAtATime)
        arguments << QStringLiteral("--parallel") << QStringLiteral("1");

    const Outcome whole = harvest(arguments);
    ASSERT_FALSE(whole.crashed);
    const int wholeRequests = site.pageRequests();
    const int killAfter = c.killAfter < 0 ? wholeRequests + c.killAfter : c.killAfter;
    ASSERT_GT(wholeRequests, killAfter) << "the kill must come before the end";
    ASSERT_TRUE(killAfter > 0 || c.killAtSitemap > 0);

    site.resetCount();
    site.killAfter = killAfter;
    site.killAtSitemap = c.killAtSitemap;
    const Outcome killed =
        harvest(arguments + QStringList{QStringLiteral("--state"), state}, &site);
    EXPECT_TRUE(killed.crashed);

    site.killAfter = 0;
    site.killAtSitemap = 0;
    site.resetCount();
    const Outcome resumed = harvest(arguments + QStringList{QStringLiteral("--state"), state});
    EXPECT_EQ(resumed.exitCode, whole.exitCode);
    EXPECT_EQ(resumed.out, whole.out);
    EXPECT_EQ(resumed.err, whole.err);
    // The committed visits are not made again.
    if (c.oneAtATime)
        EXPECT_EQ(site.pageRequests(), wholeRequests - site.pagesBeforeKill);
    else
        EXPECT_LT(site.pageRequests(), wholeRequests);

    // Finished now: written again without a request (not even a check), with the
    // same status.
    const size_t asked = site.server.requests().size();
    const Outcome again = harvest(arguments + QStringList{QStringLiteral("--state"), state});
    EXPECT_EQ(again.exitCode, whole.exitCode);
    EXPECT_EQ(again.out, whole.out);
    EXPECT_EQ(site.server.requests().size(), asked);

    // What came from the sitemaps is in the file as the run wrote it.
    if (c.options.contains(Sitemaps)) {
        EXPECT_NE(whole.err.find("/bad.xml: HTTP 500"), std::string::npos) << whole.err;
        QStringList exporting{QStringLiteral("--state"), state, QStringLiteral("--export")};
        const qsizetype format = c.options.indexOf(QStringLiteral("--format"));
        if (format >= 0)
            exporting << c.options.mid(format, 2);
        const Outcome exported = harvest(exporting);
        EXPECT_EQ(exported.exitCode, 0);
        EXPECT_EQ(exported.out, whole.out);
    }
}

const QString Forever = QStringLiteral("--forever");
const QString Files = QStringLiteral("--files");

INSTANTIATE_TEST_SUITE_P(
    Cases, RunStateResume,
    testing::Values(ResumeCase{"AfterTheFirstVisit", {Forever}, 1, false, true},
                    ResumeCase{"MidCrawl", {Forever}, 9, false, true},
                    ResumeCase{"FileLinksMidCrawl", {Forever, Files}, 6, false, true},
                    ResumeCase{"InTheSecondListedCrawl",
                               {Forever, QStringLiteral("--depth"), QStringLiteral("1")},
                               -2,
                               true,
                               true},
                    ResumeCase{"ListedPagesOnly", {}, 1, true, true},
                    ResumeCase{"AtMaxPages",
                               {Forever, QStringLiteral("--max-pages"), QStringLiteral("12")},
                               7,
                               false,
                               true},
                    ResumeCase{"FetchingAhead", {Forever, Files}, 15, false, false},
                    ResumeCase{"Checked",
                               {Forever, Files, QStringLiteral("--check"),
                                QStringLiteral("--format"), QStringLiteral("jsonl")},
                               9,
                               false,
                               true},
                    // The sitemap's pages are visited one by one after the listed one.
                    ResumeCase{"SitemapsAdd", {Sitemaps, QStringLiteral("add")}, 2, true, true},
                    ResumeCase{"SitemapsAddForever",
                               {Forever, Sitemaps, QStringLiteral("add"),
                                QStringLiteral("--format"), QStringLiteral("jsonl")},
                               9,
                               false,
                               true},
                    ResumeCase{"SitemapsCompareForever",
                               {Forever, Sitemaps, QStringLiteral("compare"),
                                QStringLiteral("--format"), QStringLiteral("csv")},
                               -1,
                               true,
                               true},
                    // Killed while the second site's sitemaps are read: they are read again.
                    ResumeCase{"WhileSitemapsAreRead",
                               {Forever, Sitemaps, QStringLiteral("compare")},
                               0,
                               true,
                               true,
                               2}),
    [](const testing::TestParamInfo<ResumeCase>& info) { return std::string(info.param.name); });

// Opens a state file with the sqlite3 API, for the test to change or query it.
struct Database {
    explicit Database(const QString& path) {
        EXPECT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    }
    ~Database() { sqlite3_close(db); }
    std::vector<std::string> rows(const std::string& query) {
        const char* sql = query.c_str();
        std::vector<std::string> out;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const auto* text = sqlite3_column_text(statement, i);
                row +=
                    (i ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "");
            }
            out.push_back(row);
        }
        sqlite3_finalize(statement);
        return out;
    }
    sqlite3* db = nullptr;
};

} // namespace

// The README's queries, and --export in each record format.
TEST(RunStateFile, QueriesAndExport) {
    Site site;
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("run.state"));
    const QStringList run{QStringLiteral("-q"), Forever, QStringLiteral("--format"),
                          QStringLiteral("jsonl"), site.server.url("/p0")};
    const Outcome whole = harvest(run);
    ASSERT_EQ(harvest(run + QStringList{QStringLiteral("--state"), state}).out, whole.out);

    {
        Database db(state);
        EXPECT_EQ(
            db.rows("SELECT address, status, failure FROM visits "
                    "WHERE outcome <> 'downloaded' ORDER BY step"),
            std::vector<std::string>{site.server.url("/gone").toStdString() + "|404|HTTP 404"});
        const std::vector<std::string> linking =
            db.rows("SELECT DISTINCT v.final_address FROM links l JOIN visits v ON v.step = "
                    "l.step WHERE l.link = 'http://127.0.0.1:" +
                    std::to_string(site.server.port()) + "/p5' ORDER BY 1");
        EXPECT_FALSE(linking.empty());
        EXPECT_EQ(db.rows("SELECT final_address, redirected, redirects FROM visits WHERE "
                          "address LIKE '%/moved'"),
                  std::vector<std::string>{site.server.url("/p5").toStdString() + "|1|302 " +
                                           site.server.url("/p5").toStdString()});
        EXPECT_EQ(db.rows("SELECT DISTINCT content_type FROM visits WHERE step = 0"),
                  std::vector<std::string>{"text/html"});
    }
    // A file of an earlier format version is brought up to date: the second,
    // without the sitemaps, then the first, without content types, redirect hops
    // and checks either.
    for (const int version : {2, 1}) {
        {
            Database db(state);
            for (const char* sql : {"DROP TABLE sitemaps", "DROP TABLE sitemap_pages",
                                    "DROP TABLE sitemap_failures", "DROP TABLE sitemap_results"})
                db.rows(sql);
            if (version == 1)
                for (const char* sql :
                     {"ALTER TABLE visits DROP COLUMN content_type",
                      "ALTER TABLE visits DROP COLUMN redirects", "DROP TABLE checks"})
                    db.rows(sql);
            db.rows("PRAGMA user_version = " + std::to_string(version));
        }
        site.resetCount();
        const Outcome exported =
            harvest({QStringLiteral("--state"), state, QStringLiteral("--export"),
                     QStringLiteral("--format"), QStringLiteral("jsonl")});
        EXPECT_EQ(exported.exitCode, 0) << version;
        EXPECT_EQ(exported.out, whole.out) << version;
        EXPECT_EQ(site.pageRequests(), 0);
        EXPECT_EQ(Database(state).rows("PRAGMA user_version"), std::vector<std::string>{"3"});
    }
}

struct Refusal {
    const char* name;
    // Makes the state file at path (from a finished run of --forever on url).
    void (*prepare)(const QString& path, const QStringList& run);
    QStringList options; // of the run refused
    const char* says;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

void finishedRun(const QString& path, const QStringList& run) {
    ASSERT_EQ(harvest(run + QStringList{QStringLiteral("--state"), path}).exitCode, 0);
}

class RunStateRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(RunStateRefusal, ExitsTwoAndLeavesTheFile) {
    const Refusal& r = GetParam();
    Site site;
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("run.state"));
    const QStringList run{QStringLiteral("-q"), Forever, site.server.url("/p0")};
    r.prepare(state, run);
    const QByteArray before = ReadBytes(state);
    site.resetCount();
    const Outcome refused =
        harvest(r.options + QStringList{site.server.url("/p0"), QStringLiteral("--state"), state});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find(r.says), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(site.pageRequests(), 0);
    EXPECT_EQ(ReadBytes(state), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunStateRefusal,
    testing::Values(Refusal{"OtherOptions", finishedRun, {Forever, Files}, "--files differs"},
                    Refusal{
                        "OtherSitemapMode",
                        [](const QString& path, const QStringList& run) {
                            finishedRun(path, run + QStringList{Sitemaps, QStringLiteral("add")});
                        },
                        {Forever, Sitemaps, QStringLiteral("compare")},
                        "--sitemaps differs (the state file has 'add', this run 'compare')"},
                    Refusal{"OtherAddresses",
                            finishedRun,
                            {Forever, QStringLiteral("http://127.0.0.1:1/")},
                            "the listed addresses differ"},
                    Refusal{"NotADatabase",
                            [](const QString& path, const QStringList&) {
                                WriteBytes(path, "http://example.test/\n");
                            },
                            {Forever},
                            "is not an Orvelle state database"},
                    Refusal{"AnotherDatabase",
                            [](const QString& path, const QStringList&) {
                                Database db(path);
                                db.rows("CREATE TABLE t (x)");
                            },
                            {Forever},
                            "is not an Orvelle state database"},
                    Refusal{"NewerFormat",
                            [](const QString& path, const QStringList& run) {
                                finishedRun(path, run);
                                Database(path).rows("PRAGMA user_version = 99");
                            },
                            {Forever},
                            "is of format version 99"},
                    Refusal{"Truncated",
                            [](const QString& path, const QStringList& run) {
                                finishedRun(path, run);
                                QFile file(path);
                                ASSERT_GT(file.size(), 8192);
                                ASSERT_TRUE(file.resize(file.size() / 2));
                            },
                            {Forever},
                            "is damaged"}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// A second process on the same state file is refused at once, naming the first.
TEST(RunStateFile, SecondProcessIsRefused) {
    LoopbackServer server;
    server.hang("/slow", 10);
    server.start();
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("run.state"));
    QProcess first;
    first.start(HarvestPath,
                {QStringLiteral("-q"), QStringLiteral("--state"), state, server.url("/slow")});
    ASSERT_TRUE(first.waitForStarted());
    // Once the first asks for its page, it holds the file.
    for (int i = 0; i < 6000 && server.requests().empty(); ++i)
        first.waitForFinished(10);
    const Outcome second =
        harvest({QStringLiteral("-q"), QStringLiteral("--state"), state, server.url("/slow")});
    const qint64 pid = first.processId();
    first.kill();
    first.waitForFinished();
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_NE(second.err.find("in use by process " + std::to_string(pid)), std::string::npos)
        << second.err;
}
