// The download service and the page file, against a real server on 127.0.0.1.

#include "crawl/URLMon.h"

#include "base/Failure.h"
#include "crawl/PageFile.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawServer.h"
#include "tests/support/ScriptedShell.h"
#include "tests/support/TestCertificate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string Page = "<a href=\"x.html\">x</a>";

int modeOf(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

class Download : public ::testing::Test {
protected:
    Download() {
        server.page("/page", Page);
        server.page("/empty", "");
        server.server().Get("/ua", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.get_header_value("User-Agent"), "text/plain");
        });
        // A zlib stream sent as "deflate" (RFC 9110 section 8.4.1.2).
        server.server().Get("/deflate", [](const httplib::Request&, httplib::Response& res) {
            const QByteArray packed = qCompress(QByteArray::fromStdString(Page)).mid(4);
            res.set_header("Content-Encoding", "deflate");
            res.set_content(packed.toStdString(), "application/octet-stream");
        });
        server.status("/missing", 404);
        server.status("/broken", 500);
        server.redirect("/hop", "/page");
        for (int i = 1; i <= 11; ++i)
            server.redirect("/c" + std::to_string(i),
                            i == 11 ? "/page" : "/c" + std::to_string(i + 1));
        server.redirect("/to-file", "file:///etc/passwd");
        server.redirect("/to-ftp", "ftp://127.0.0.1/");
        server.drip("/drip", std::string(100, 'x'), std::chrono::milliseconds(200));
        // Answers status the first `times` times it is asked (always for times -1),
        // with Retry-After when retryAfter is set, and the page after that.
        auto failing = [this](const char* path, int status, int times, const char* retryAfter) {
            server.server().Get(path, [=, asked = std::make_shared<std::atomic<int>>(0)](
                                          const httplib::Request&, httplib::Response& res) {
                if (times < 0 || (*asked)++ < times) {
                    res.status = status;
                    if (*retryAfter)
                        res.set_header("Retry-After", retryAfter);
                    return;
                }
                res.set_content(Page, "text/html");
            });
        };
        failing("/503-once", 503, 1, "");
        failing("/502-once", 502, 1, "");
        failing("/504-always", 504, -1, "");
        failing("/500-once", 500, 1, "");
        failing("/429-now", 429, 1, "0");
        failing("/429-later", 429, 1, "120");
        failing("/503-later", 503, 1, "Fri, 31 Dec 2100 23:59:59 GMT");
        server.start();
        // A retry waits a millisecond or two, not half a second.
        settings.retryBaseMs = 1;
        m_savedTemp = qgetenv("TEMP");
        qputenv("TEMP", dir.path().toLocal8Bit());
        RemovePageFolder();
    }
    ~Download() override {
        RemovePageFolder();
        qputenv("TEMP", m_savedTemp);
    }

    DownloadResult get(const QString& address, bool keepGoing = true) {
        return urlmon.download(address, settings, shell, [&] { return keepGoing && !stopped; });
    }

    // Downloads every address at once; their results in the same order.
    std::vector<DownloadResult> getAll(const std::vector<QString>& addresses) {
        std::vector<URLMon::Id> ids;
        for (const QString& address : addresses)
            ids.push_back(urlmon.start(address, settings));
        while (!std::all_of(ids.begin(), ids.end(),
                            [&](URLMon::Id id) { return urlmon.finished(id); }))
            urlmon.wait(shell);
        std::vector<DownloadResult> results;
        for (const URLMon::Id id : ids)
            results.push_back(urlmon.take(id));
        return results;
    }

    // A page file is unlinked as soon as it is open: none is ever left to see.
    bool noPageFile() const { return PageFolder().isEmpty() || QDir(PageFolder()).isEmpty(); }

    QTemporaryDir dir;
    QByteArray m_savedTemp;
    LoopbackServer server;
    ScriptedShell shell;
    DownloadSettings settings;
    URLMon urlmon;
    bool stopped = false;
};

struct Case {
    const char* name;
    std::string target; // a path on the server, or a whole address
    qint64 maxBytes;
    qint64 memoryBytes;  // received into memory up to this; 0 for the default
    const char* failure; // empty for a download that succeeds
    std::string content;
    const char* deliveredFrom;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

const Case Cases[] = {
    {"Page", "/page", 0, 0, "", Page, "/page"},
    {"PageIntoAFile", "/page", 0, 4, "", Page, "/page"},
    {"UserAgent", "/ua", 0, 0, "", "Orvelle/" ORVELLE_VERSION, "/ua"},
    {"EmptyBody", "/empty", 0, 0, "", "", "/empty"},
    {"Deflated", "/deflate", 0, 0, "", Page, "/deflate"},
    {"Redirect", "/hop", 0, 0, "", Page, "/page"},
    {"TenRedirects", "/c2", 0, 0, "", Page, "/page"},
    {"ElevenRedirects", "/c1", 0, 0, "too many redirects", "", ""},
    {"NotFound", "/missing", 0, 0, "HTTP 404", "", ""},
    {"ServerError", "/broken", 0, 0, "HTTP 500", "", ""},
    {"RedirectToFile", "/to-file", 0, 0, "file", "", ""},
    {"RedirectToFtp", "/to-ftp", 0, 0, "ftp", "", ""},
    {"FtpAddress", "ftp://127.0.0.1/", 0, 0, "ftp", "", ""},
    {"TooLarge", "/page", 5, 0, "page larger than 5 bytes", "", ""},
    {"TooLargeDecoded", "/deflate", 5, 0, "page larger than 5 bytes", "", ""},
    {"TooLargeInAFile", "/page", 10, 4, "page larger than 10 bytes", "", ""},
};

class DownloadCase : public Download, public ::testing::WithParamInterface<Case> {};

TEST_P(DownloadCase, GivesTheResultAndKeepsOnlyAGoodPage) {
    const Case& c = GetParam();
    if (c.maxBytes)
        settings.maxPageBytes = c.maxBytes;
    if (c.memoryBytes)
        settings.memoryPageBytes = c.memoryBytes;
    const QString address =
        c.target[0] == '/' ? server.url(c.target) : QString::fromStdString(c.target);

    const DownloadResult result = get(address);

    EXPECT_TRUE(noPageFile());
    if (*c.failure) {
        EXPECT_FALSE(result.ok());
        EXPECT_TRUE(result.failure.contains(QLatin1String(c.failure), Qt::CaseInsensitive))
            << result.failure.toStdString();
    } else {
        ASSERT_TRUE(result.ok()) << result.failure.toStdString();
        EXPECT_EQ(result.body.read(1 << 20).toStdString(), c.content);
        EXPECT_EQ(result.body.view(1 << 20).toStdString(), c.content);
        EXPECT_EQ(result.body.onDisk(), c.memoryBytes != 0);
        EXPECT_EQ(result.effectiveAddress, server.url(c.deliveredFrom));
        EXPECT_EQ(result.redirected, c.deliveredFrom != c.target);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadCase, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Download, RefusedConnectionFails) {
    LoopbackServer closed;
    closed.start();
    const QString address = closed.url("/");
    closed.stop();
    const DownloadResult result = get(address);
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.failure.contains(QLatin1String("connect"), Qt::CaseInsensitive))
        << result.failure.toStdString();
}

TEST_F(Download, StalledTransferIsAbandonedWhileTheShellKeepsItsTurns) {
    settings.stallMs = 300;
    const DownloadResult result = get(server.url("/drip"));
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.failure.contains(QLatin1String("too slow"))) << result.failure.toStdString();
    EXPECT_LT(server.dripped(), 100u);
    EXPECT_GT(shell.yieldCounts[YieldPlace::Download], 10);
}

// Stopped before it starts: nothing is asked of the server. (Stop during a
// transfer is a run's: CrawlRunTest.cpp.)
TEST_F(Download, StoppedBeforeItStartsAsksNothing) {
    EXPECT_EQ(get(server.url("/page"), false).failure, QStringLiteral("stopped"));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Download, OneConnectionServesTheRunUntilReleased) {
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(get(server.url("/page")).ok());
    urlmon.release();
    ASSERT_TRUE(get(server.url("/page")).ok());
    const std::vector<int> ports = server.clientPorts();
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[1], ports[0]);
    EXPECT_EQ(ports[2], ports[0]);
    EXPECT_NE(ports[3], ports[0]);
}

// A transfer that failed in a way that seldom lasts is tried again, up to the
// retries allowed, and a page that comes on a retry is the page; the requests the
// server saw are counted.
struct RetryCase {
    const char* name;
    std::string target; // a path on the server; "raw" for one that resets the first time
    int retries;
    int maxRetryWaitSeconds;
    const char* failure; // empty for a download that succeeds
    size_t requests;
};

void PrintTo(const RetryCase& c, std::ostream* os) {
    *os << c.name;
}

const RetryCase RetryCases[] = {
    {"503ThenPage", "/503-once", 2, 60, "", 2},
    {"502ThenPage", "/502-once", 2, 60, "", 2},
    {"ResetThenPage", "raw", 2, 60, "", 2},
    {"429WithRetryAfterThenPage", "/429-now", 2, 60, "", 2},
    {"RetriesRunOut", "/504-always", 2, 60, "HTTP 504", 3},
    {"500IsFinal", "/500-once", 2, 60, "HTTP 500", 1},
    {"RetryAfterOverTheCap", "/429-later", 2, 60, "server asked to wait 120 s", 1},
    {"RetryAfterDateOverTheCap", "/503-later", 2, 3600, "server asked to wait", 1},
    // --retries 0: one request, and the failure as it came.
    {"503WithoutRetries", "/503-once", 0, 60, "HTTP 503", 1},
    {"ResetWithoutRetries", "raw", 0, 60, "reset", 1},
    {"429WithoutRetries", "/429-now", 0, 60, "HTTP 429", 1},
};

class RetryCaseTest : public Download, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryCaseTest, TriesAgainOnlyWhatMayPassAndOnlyAsOftenAsAllowed) {
    const RetryCase& c = GetParam();
    settings.retries = c.retries;
    settings.maxRetryWaitSeconds = c.maxRetryWaitSeconds;
    std::unique_ptr<RawServer> raw;
    if (c.target == "raw")
        raw = std::make_unique<RawServer>(RawServer::Behaviour::ResetFirst,
                                          "HTTP/1.1 200 OK\r\nContent-Length: " +
                                              std::to_string(Page.size()) + "\r\n\r\n" + Page);
    const DownloadResult result = get(raw ? raw->url("/") : server.url(c.target));

    if (*c.failure) {
        EXPECT_FALSE(result.ok());
        EXPECT_TRUE(result.failure.contains(QLatin1String(c.failure), Qt::CaseInsensitive))
            << result.failure.toStdString();
    } else {
        ASSERT_TRUE(result.ok()) << result.failure.toStdString();
        EXPECT_EQ(result.body.read(1 << 20).toStdString(), Page);
    }
    EXPECT_EQ(raw ? size_t(raw->requests()) : server.requests().size(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(Cases, RetryCaseTest, ::testing::ValuesIn(RetryCases),
                         [](const auto& info) { return std::string(info.param.name); });

// With politeness on, requests to one host go one at a time, a pause apart, however
// many are asked for at once; without it, and without retries, a 503 is simply a
// failure.
TEST_F(Download, PolitenessSpacesTheRequestsToAHostAndTriesOnceMoreAfterRetryAfter) {
    settings.retries = 0;
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    int open = 0, mostOpen = 0;
    server.server().Get("/timed", [&](const httplib::Request&, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            arrivals.push_back(std::chrono::steady_clock::now());
            mostOpen = std::max(mostOpen, ++open);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard<std::mutex> lock(mutex);
        --open;
        res.set_content("ok", "text/plain");
    });
    server.server().Get("/busy", [](const httplib::Request&, httplib::Response& res) {
        res.status = 503;
        res.set_header("Retry-After", "Thu, 01 Jan 1970 00:00:00 GMT"); // long past: no wait
    });
    EXPECT_EQ(get(server.url("/busy")).failure, QStringLiteral("HTTP 503"));
    EXPECT_EQ(server.requests().size(), 1u);

    settings.waitMs = 150;
    std::vector<URLMon::Id> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(urlmon.start(server.url("/timed"), settings));
    while (!std::all_of(ids.begin(), ids.end(), [&](URLMon::Id id) { return urlmon.finished(id); }))
        urlmon.wait(shell);
    EXPECT_EQ(mostOpen, 1);
    ASSERT_EQ(arrivals.size(), 3u);
    for (size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i] - arrivals[i - 1], std::chrono::milliseconds(150 + 20));

    const DownloadResult busy = get(server.url("/busy"));
    EXPECT_EQ(busy.httpStatus, 503);
    EXPECT_EQ(server.requests().size(), 1u + 3u + 2u) << "asked once more, and only once";
}

// A server that closes the connection after every answer (HTTP/1.0, Connection:
// close) multiplexes nothing: requests to it still go side by side, each on a
// connection of its own. Each answer waits until three requests are open at once,
// or for a second when they never are.
TEST_F(Download, RequestsToAServerThatClosesEveryConnectionGoSideBySide) {
    LoopbackServer closing;
    closing.server().set_keep_alive_max_count(1);
    std::mutex mutex;
    std::condition_variable opened;
    int open = 0, mostOpen = 0;
    closing.server().Get("/side", [&](const httplib::Request&, httplib::Response& res) {
        std::unique_lock<std::mutex> lock(mutex);
        mostOpen = std::max(mostOpen, ++open);
        opened.notify_all();
        opened.wait_for(lock, std::chrono::seconds(1), [&] { return mostOpen >= 3; });
        --open;
        res.set_content(Page, "text/html");
    });
    closing.start();
    for (int round = 0; round < 2; ++round) {
        for (const DownloadResult& result : getAll(std::vector<QString>(3, closing.url("/side"))))
            EXPECT_TRUE(result.ok()) << result.failure.toStdString();
        EXPECT_EQ(mostOpen, 3);
        mostOpen = 0;
    }
    const std::vector<int> ports = closing.clientPorts();
    EXPECT_EQ(std::set<int>(ports.begin(), ports.end()).size(), 6u);
}

// A TLS server with an authority of its own is reached when CURL_CA_BUNDLE names
// that authority, and only then; its connections are kept for the next pages.
TEST_F(Download, TlsServerIsTrustedThroughCurlCaBundleAndItsConnectionsKept) {
    const TestCertificate certificate = MakeTestCertificate(dir.path());
    LoopbackServer tls(certificate.certPath, certificate.keyPath);
    tls.page("/page", Page);
    tls.start();
    const QByteArray savedBundle = qgetenv("CURL_CA_BUNDLE"), savedFile = qgetenv("SSL_CERT_FILE");
    qunsetenv("CURL_CA_BUNDLE");
    qunsetenv("SSL_CERT_FILE");
    const DownloadResult untrusted = get(tls.url("/page"));
    EXPECT_TRUE(untrusted.failure.contains(QLatin1String("certificate")))
        << untrusted.failure.toStdString();

    urlmon.release(); // the certificates to trust are read when the service starts
    qputenv("CURL_CA_BUNDLE", QByteArray::fromStdString(certificate.certPath));
    for (int round = 0; round < 2; ++round)
        for (const DownloadResult& result : getAll(std::vector<QString>(4, tls.url("/page")))) {
            ASSERT_TRUE(result.ok()) << result.failure.toStdString();
            EXPECT_EQ(result.body.read(1 << 20).toStdString(), Page);
        }
    const std::vector<int> ports = tls.clientPorts(); // the untrusted attempt sent nothing
    EXPECT_EQ(ports.size(), 8u);
    EXPECT_LE(std::set<int>(ports.begin(), ports.end()).size(), 4u);
    urlmon.release(); // before the server, which would wait for the idle connections
    for (const auto& [name, saved] :
         {std::pair("CURL_CA_BUNDLE", savedBundle), std::pair("SSL_CERT_FILE", savedFile)})
        saved.isNull() ? qunsetenv(name) : qputenv(name, saved);
}

TEST_F(Download, PageFileThatCannotBeCreatedIsAFailureNotAFailedDownload) {
    qputenv("TEMP", (dir.path() + QStringLiteral("/missing")).toLocal8Bit());
    RemovePageFolder();
    settings.memoryPageBytes = 4;
    const DownloadResult result = get(server.url("/page"));
    EXPECT_EQ(result.outcome, DownloadOutcome::LocalError);
    EXPECT_TRUE(result.failure.startsWith(QStringLiteral("Cannot make a private folder")))
        << result.failure.toStdString();
}

// A page in its page file is read through a map: the same bytes as a copy, also
// once a scan has let go of the front, also in the body it is moved into; and
// still no larger than the limit.
TEST_F(Download, PageInAFileIsMappedAndReadBackAfterTheScanLetGoOfIt) {
    std::string large(300 * 1024, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = char('a' + i % 23);
    server.server().Get("/large", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(large, "application/octet-stream");
    });
    settings.memoryPageBytes = 1024;
    DownloadResult result = get(server.url("/large"));
    ASSERT_TRUE(result.ok()) << result.failure.toStdString();
    ASSERT_TRUE(result.body.onDisk());
    const QByteArray view = result.body.view(1 << 20);
    EXPECT_EQ(view.toStdString(), large);
    result.body.scannedTo(view.size());
    EXPECT_EQ(view.toStdString(), large);
    const PageBody moved = std::move(result.body);
    EXPECT_EQ(moved.view(1 << 20).constData(), view.constData());
    EXPECT_EQ(view.toStdString(), large);
    EXPECT_THROW(moved.view(1000), Failure);
}

TEST(PageFolder, IsPrivateUnderTempElseTmpdirAndGoesWhenRemoved) {
    QTemporaryDir temp, tmpdir;
    const QByteArray savedTemp = qgetenv("TEMP"), savedTmpdir = qgetenv("TMPDIR");
    for (const bool withTemp : {true, false}) {
        qputenv("TEMP", withTemp ? temp.path().toLocal8Bit() : QByteArray());
        qputenv("TMPDIR", tmpdir.path().toLocal8Bit());
        RemovePageFolder();
        const QString path = PageFilePath(7);
        const QString folder = PageFolder();
        EXPECT_EQ(QFileInfo(folder).path(), withTemp ? temp.path() : tmpdir.path());
        EXPECT_EQ(path, folder + QStringLiteral("/HTML7.tmp"));
        EXPECT_EQ(modeOf(folder), 0700);
        ::close(CreatePageFile(path));
        RemovePageFolder();
        EXPECT_FALSE(QFileInfo::exists(folder));
    }
    qputenv("TEMP", savedTemp);
    qputenv("TMPDIR", savedTmpdir);
}

} // namespace
