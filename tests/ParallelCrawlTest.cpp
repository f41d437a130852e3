// Pages fetched ahead, many at once: the run's results and requests are those of
// the run that fetches one page at a time, against servers that answer after
// seeded random delays of a few milliseconds (enough to reorder the arrivals).

#include "crawl/PageFile.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace {

// A tree (page N leads to 3N+1..3N+3) and a chain (page N leads to N+1..N+3 and to
// page 0), whose pages also hold a file link, a link with a fragment, a link to a
// missing page, one to a port where nothing listens and one to a page of the same shape
// on a second loopback host; every page depends on its path alone.
// A page of the third shape is a tree page whose links are read against its <base>.
// The fourth is a documentation site: a sidebar of 20 pages (the first page of every
// chapter of five, the rest of its own chapter, a few related ones), then the
// previous and the next page.
std::string sitePage(char shape, int n, int pages, const std::string& other) {
    std::string body = "<html><body><img src=\"img/" + std::to_string(n) + ".png\">";
    std::string prefix;
    if (shape == 'b') {
        shape = 't';
        prefix = "b/";
        body += "<base href=\"/\">";
    }
    auto link = [&](const std::string& target) { body += "<a href=\"" + target + "\">x</a>"; };
    if (shape == 'd') {
        for (int c = 0; c < pages; c += 5)
            link("/d/" + std::to_string(c));
        for (int c = n - n % 5 + 1; c < n - n % 5 + 5; ++c)
            link("/d/" + std::to_string(c));
        for (int i = 1; i <= 4; ++i)
            link("/d/" + std::to_string((n * 7 + i * 13) % pages));
        for (int c : {n - 1, n + 1})
            if (c >= 0 && c < pages)
                link(std::to_string(c));
    } else {
        const int first = shape == 't' ? 3 * n + 1 : n + 1;
        for (int c = first; c < first + 3 && c < pages; ++c)
            link(prefix + std::to_string(c));
    }
    if (shape == 'c')
        link("0#top");
    link("/gone/" + std::to_string(n % 3));
    link("http://127.0.0.1:1/" + std::to_string(n % 4)); // refused at once
    link(other + "/" + shape + "/" + std::to_string((n + 5) % pages));
    return body + "</body></html>";
}

class ParallelCrawl : public ::testing::Test {
protected:
    static constexpr int Pages = 40;
    static constexpr int DensePages = 60;

    void SetUp() override {
        m_savedTemp = qgetenv("TEMP");
        qputenv("TEMP", temp.path().toLocal8Bit());
        RemovePageFolder();
        other.start("127.0.0.2");
        for (LoopbackServer* host : {&server, &other}) {
            host->server().Get(
                R"(/([tcbd])/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
                    wait();
                    const char shape = req.matches[1].str()[0];
                    const int pages = shape == 'd' ? DensePages : Pages;
                    const int n = std::stoi(req.matches[2]);
                    if (n >= pages) {
                        res.status = 404;
                        return;
                    }
                    res.set_content(sitePage(shape, n, pages, other.url("").toStdString()),
                                    "text/html");
                });
            host->server().Get(R"(/gone/\d+)",
                               [this](const httplib::Request&, httplib::Response& res) {
                                   wait();
                                   res.status = 404;
                               });
        }
        // The second host cannot say what its robots.txt is: it is kept out.
        // Its sitemap lists pages of both shapes, the listed one and missing ones.
        server.server().Get("/robots.txt", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("User-agent: *\nDisallow: /t/1\nDisallow: /c/2$\nSitemap: "
                            "http://127.0.0.1:" +
                                std::to_string(req.local_port) + "/map.xml\n",
                            "text/plain");
        });
        server.server().Get("/map.xml", [](const httplib::Request& req, httplib::Response& res) {
            std::string xml = "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">";
            for (const char* path : {"/t/3", "/c/7", "/t/0", "/gone/2", "/t/45", "/c/12"})
                xml += "<url><loc>http://127.0.0.1:" + std::to_string(req.local_port) + path +
                       "</loc></url>";
            res.set_content(xml + "</urlset>", "application/xml");
        });
        other.status("/robots.txt", 503);
        server.start();
    }
    void TearDown() override {
        server.stop();
        other.stop();
        RemovePageFolder();
        qputenv("TEMP", m_savedTemp);
    }

    // Answers after 0 to 3 ms; the most requests open at once are counted.
    void wait() {
        int delayMs;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            delayMs = int(m_random() % 4);
            maxOpen = std::max(maxOpen, ++m_open);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_open;
    }

    struct Run {
        QStringList results;
        std::vector<std::string> requests; // in order
        std::vector<QString> messages;
    };

    // One run of the start button over paths; action runs at the end of each visit,
    // or, posted, at the next turn of the event loop (every yield is one), as a
    // click made in the window between two visits.
    Run harvest(int parallel, const std::vector<std::string>& paths, bool files, bool followLinks,
                const std::function<void(Form1&, int)>& action = {},
                void (*tune)(HarvestRun&) = nullptr, bool posted = false) {
        ScriptedShell shell;
        Form1 form(shell);
        form.Form_Load();
        if (tune)
            tune(form.harvestRun());
        form.harvestRun().Settings.download.parallel = parallel;
        form.harvestRun().Settings.download.connectTimeoutMs = 5000;
        form.harvestRun().Settings.download.stallMs = 5000;
        form.harvestRun().Settings.download.retryBaseMs = 1;
        form.harvestRun().Settings.maxPages = maxPages;
        form.setOption2(files);
        form.setCheck2(followLinks ? 1 : 0);
        for (const std::string& path : paths)
            form.ListView1.Add(path.empty() ? QString() : server.url(path));
        if (action && !posted)
            shell.onVisitEnded = [&](int visits) { action(form, visits); };
        if (action && posted) {
            shell.onVisitEnded = [&](int visits) {
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [&, visits] { action(form, visits); },
                    Qt::QueuedConnection);
            };
            for (YieldPlace place : {YieldPlace::Run, YieldPlace::Download, YieldPlace::Scan,
                                     YieldPlace::Value, YieldPlace::Delete})
                shell.onEvery(place, [] { QCoreApplication::processEvents(); });
        }
        const size_t before = server.requests().size(), otherBefore = other.requests().size();
        form.PushButton7_Click();
        // A click posted after the last turn of the run lands in no run.
        QCoreApplication::processEvents();
        EXPECT_TRUE(PageFolder().isEmpty() || QDir(PageFolder()).isEmpty());
        std::vector<std::string> all = server.requests();
        all.erase(all.begin(), all.begin() + long(before));
        const std::vector<std::string> others = other.requests();
        for (auto it = others.begin() + long(otherBefore); it != others.end(); ++it)
            all.push_back("other" + *it);
        return {form.ListView2.Texts(), all, shell.messageTexts()};
    }

    static std::vector<std::string> sorted(std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    }

    QTemporaryDir temp;
    LoopbackServer server;
    LoopbackServer other;
    int maxOpen = 0;
    qint64 maxPages = 0; // the run's page limit, for what it fetches ahead

private:
    QByteArray m_savedTemp;
    std::mutex m_mutex;
    std::mt19937 m_random{20261208};
    int m_open = 0;
};

struct Case {
    const char* name;
    std::vector<std::string> paths;
    bool files;
    bool followLinks;
    int stopAfter;   // Stop pressed at the end of this visit; 0 for none
    int switchAfter; // "Retrieve file links" selected at the end of this visit; 0 for none
    void (*tune)(HarvestRun&) = nullptr; // scope and politeness
    bool closing = false;                // the servers close the connection after every answer
    bool posted = false;                 // the clicks land at the next turn of the event loop
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<std::string> List = {"/t/0", "/c/5", "", "/t/0", "/gone/1", "/t/99", "/c/39"};

const Case Cases[] = {
    {"List", List, false, false, 0, 0},
    {"ListFileLinks", List, true, false, 0, 0},
    {"TreeForever", {"/t/0"}, false, true, 0, 0},
    {"ChainForever", {"/c/0"}, false, true, 0, 0},
    {"BaseElementForever", {"/b/1"}, false, true, 0, 0},
    {"ChainForeverFileLinks", {"/c/0"}, true, true, 0, 0},
    {"DenseForever", {"/d/0"}, false, true, 0, 0},
    {"DenseWithAPageLimit", {"/d/3"}, false, true, 25, 0},
    {"ForeverOverAList", {"/c/30", "/t/5", "/c/30"}, false, true, 0, 0},
    {"SwitchToFileLinks", {"/t/0", "/c/0"}, false, true, 0, 9},
    // Pages fetched ahead are still visited one by one: a click made between two
    // visits takes effect at the next one, as in the run that fetches one at a time.
    {"ClicksPostedBetweenVisits", {"/t/0", "/c/0"}, false, true, 14, 6, nullptr, false, true},
    {"StopAtTheFirstVisit", {"/t/0"}, false, true, 1, 0},
    {"StopInTheTree", {"/t/0"}, false, true, 12, 0},
    {"StopInTheList", List, false, false, 3, 0},
    {"SameHost",
     {"/c/0"},
     false,
     true,
     0,
     0,
     [](HarvestRun& l) { l.Settings.scope.hosts = CrawlScope::Hosts::SameHost; }},
    {"IncludeAndExclude",
     {"/t/0", "/c/3"},
     false,
     true,
     0,
     0,
     [](HarvestRun& l) {
         l.Settings.scope.include = {QRegularExpression(QStringLiteral("/t/|/c/[1-3]")),
                                     QRegularExpression(QStringLiteral("gone"))};
         l.Settings.scope.exclude = {QRegularExpression(QStringLiteral("/t/2"))};
     }},
    {"DepthTwo",
     {"/c/0", "/t/0"},
     false,
     true,
     0,
     0,
     [](HarvestRun& l) { l.Settings.scope.maxDepth = 2; }},
    {"Robots",
     {"/t/0", "/c/0"},
     false,
     true,
     0,
     0,
     [](HarvestRun& l) { l.Settings.scope.robots = true; }},
    {"RobotsAndDepthStopped",
     {"/c/0"},
     true,
     true,
     7,
     0,
     [](HarvestRun& l) {
         l.Settings.scope.robots = true;
         l.Settings.scope.maxDepth = 3;
     }},
    {"Wait", {"/c/0"}, false, true, 0, 0, [](HarvestRun& l) { l.Settings.download.waitMs = 1; }},
    {"ClosingServers", {"/t/0", "/c/3"}, false, true, 0, 0, nullptr, true},
    {"SitemapsAdd", List, false, false, 0, 0,
     [](HarvestRun& l) { l.Settings.sitemaps = SitemapMode::Add; }},
    {"SitemapsAddForever",
     {"/c/0"},
     false,
     true,
     0,
     0,
     [](HarvestRun& l) { l.Settings.sitemaps = SitemapMode::Add; }},
    {"SitemapsCompareForever",
     {"/t/0"},
     false,
     true,
     0,
     0,
     [](HarvestRun& l) { l.Settings.sitemaps = SitemapMode::Compare; }},
};

class Differential : public ParallelCrawl, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        if (GetParam().closing)
            for (LoopbackServer* host : {&server, &other})
                host->server().set_keep_alive_max_count(1);
        ParallelCrawl::SetUp();
    }
};

TEST_P(Differential, FetchingAheadChangesNothingButTheSpeed) {
    const Case& c = GetParam();
    auto action = [&](Form1& form, int visits) {
        if (visits == c.switchAfter)
            form.setOption2(true);
        // As --max-pages does: Stop, once, after that many visits.
        if (visits == c.stopAfter && form.RunFlag())
            form.PushButton7_Click();
    };
    // A run stopped after n visits is one with a page limit of n.
    maxPages = c.posted ? 0 : c.stopAfter;
    const Run one = harvest(1, c.paths, c.files, c.followLinks, action, c.tune, c.posted);
    const Run many = harvest(16, c.paths, c.files, c.followLinks, action, c.tune, c.posted);
    ASSERT_FALSE(one.results.isEmpty());
    if (c.switchAfter) {
        EXPECT_FALSE(one.results.filter(QStringLiteral(".png")).isEmpty()) << "no switch landed";
    }
    // /t/45 is a page only the sitemap names.
    if (std::string(c.name).rfind("Sitemaps", 0) == 0) {
        EXPECT_FALSE(one.results.filter(QStringLiteral("/t/45")).isEmpty()) << "no sitemap read";
    }
    EXPECT_EQ(many.results, one.results);
    EXPECT_EQ(many.messages, one.messages);
    if (c.stopAfter == 0) {
        // The same requests, repeats counted: nothing cached, nothing extra.
        EXPECT_EQ(sorted(many.requests), sorted(one.requests));
    } else {
        // A run with a page limit asks for at most as many pages more as may be in
        // flight; one stopped by a click, for what it held ahead.
        EXPECT_LE(many.requests.size(), one.requests.size() + (maxPages > 0 ? 16 : 4 * 16 + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Differential, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ParallelCrawl, ManyRequestsAreOpenAtOnceButNoMoreThanThePerHostLimit) {
    // One host: the second one's pages would be open beside them.
    harvest(16, {"/t/0"}, false, true, {},
            [](HarvestRun& l) { l.Settings.scope.hosts = CrawlScope::Hosts::SameHost; });
    EXPECT_GE(maxOpen, 4);
    EXPECT_LE(maxOpen, 6);
}

} // namespace
