// "Extract forever" over a generated site of 5,000 small linked pages served by
// nginx on a loopback port, through Form1 with a shell that does nothing; and
// wget's recursive spider over the same site, for comparison.

#include "base/Shell.h"
#include "bench/QuietShell.h"
#include "crawl/PageFile.h"
#include "window/Form1.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int SitePages = 5000;

// Page i links to its two children in a binary tree (so every page is reachable
// from page 0), back to its parent and to page 0, and carries some text and an
// image, about 1.5 KB in all.
QByteArray sitePage(int i) {
    QByteArray page = "<!DOCTYPE html>\n<html><head><title>Page " + QByteArray::number(i) +
                      "</title><link rel=\"stylesheet\" href=\"style.css\"></head><body>\n"
                      "<h1>Page " +
                      QByteArray::number(i) + "</h1>\n<img src=\"img/p" + QByteArray::number(i) +
                      ".png\" alt=\"\">\n";
    for (int p = 0; p < 8; ++p)
        page += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod "
                "tempor incididunt ut labore et dolore magna aliqua.</p>\n";
    page += "<ul>\n";
    for (const int child : {2 * i + 1, 2 * i + 2})
        if (child < SitePages)
            page += "<li><a href=\"p" + QByteArray::number(child) + ".html\">Page " +
                    QByteArray::number(child) + "</a></li>\n";
    if (i > 0)
        page += "<li><a href=\"p" + QByteArray::number((i - 1) / 2) + ".html\">Up</a></li>\n";
    page += "<li><a href=\"/p0.html\">Home</a></li>\n</ul>\n</body></html>\n";
    return page;
}

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool accepting(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// The generated site under nginx, in a temporary folder of its own, for as long as
// the program runs.
class Site {
public:
    bool start() {
        const QString root = m_dir.path() + QStringLiteral("/site");
        QDir().mkpath(root);
        for (int i = 0; i < SitePages; ++i) {
            QFile file(root + QStringLiteral("/p%1.html").arg(i));
            if (!file.open(QIODevice::WriteOnly) || file.write(sitePage(i)) < 0)
                return fail("cannot write the site");
        }
        m_port = freeLoopbackPort();
        const QString prefix = m_dir.path();
        QByteArray config = "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                            "error_log " +
                            QFile::encodeName(prefix) + "/error.log;\npid " +
                            QFile::encodeName(prefix) +
                            "/nginx.pid;\n"
                            "events { worker_connections 256; }\nhttp {\n"
                            "  access_log off;\n  default_type text/html;\n"
                            "  keepalive_requests 1000000;\n";
        for (const char* temp : {"client_body", "proxy", "fastcgi", "scgi", "uwsgi"})
            config += QByteArray("  ") + temp + "_temp_path " + QFile::encodeName(prefix) + "/" +
                      temp + ";\n";
        config += "  server {\n    listen 127.0.0.1:" + QByteArray::number(m_port) +
                  ";\n    root " + QFile::encodeName(root) + ";\n  }\n}\n";
        QFile file(prefix + QStringLiteral("/nginx.conf"));
        if (!file.open(QIODevice::WriteOnly) || file.write(config) < 0)
            return fail("cannot write the nginx configuration");
        file.close();

        m_nginx.setProcessChannelMode(QProcess::ForwardedChannels);
        m_nginx.start(QStringLiteral("/usr/sbin/nginx"),
                      {QStringLiteral("-p"), prefix, QStringLiteral("-c"), file.fileName(),
                       QStringLiteral("-e"), prefix + QStringLiteral("/error.log")});
        if (!m_nginx.waitForStarted(5000))
            return fail("nginx does not start (is nginx-light installed?)");
        for (int i = 0; i < 500 && !accepting(m_port); ++i)
            QThread::msleep(10);
        return accepting(m_port) || fail("nginx does not answer");
    }

    ~Site() {
        if (m_nginx.state() != QProcess::NotRunning) {
            m_nginx.terminate();
            if (!m_nginx.waitForFinished(5000))
                m_nginx.kill();
            m_nginx.waitForFinished(5000);
        }
    }

    QString url(int page) const {
        return QStringLiteral("http://127.0.0.1:%1/p%2.html").arg(m_port).arg(page);
    }

private:
    bool fail(const char* why) {
        std::fprintf(stderr, "crawl benchmark: %s\n", why);
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_nginx;
    int m_port = 0;
};

Site* g_site = nullptr;

// Adds up the phase durations the run reports with each visit.
class TimingShell : public QuietShell {
public:
    void visitEnded(const VisitEnd& visit) override {
        ++visits;
        if (visit.outcome == VisitEnd::Outcome::Downloaded)
            ++downloaded;
        downloadNs += visit.downloadNs;
        scanNs += visit.scanNs;
    }
    qint64 visits = 0, downloaded = 0, downloadNs = 0, scanNs = 0;
};

void BM_ExtractForever(benchmark::State& state) {
    TimingShell total;
    const int parallel = int(state.range(0));
    for (auto _ : state) {
        TimingShell shell;
        Form1 form(shell);
        form.Form_Load();
        form.harvestRun().Settings.download.parallel = parallel;
        form.ListView1.Add(g_site->url(0));
        form.setCheck2(1);
        form.PushButton7_Click();
        total.visits += shell.visits;
        total.downloaded += shell.downloaded;
        total.downloadNs += shell.downloadNs;
        total.scanNs += shell.scanNs;
        if (shell.downloaded < SitePages)
            state.SkipWithError("the crawl did not reach every page");
    }
    const double pages = double(total.downloaded);
    state.counters["pages"] = benchmark::Counter(pages / double(state.iterations()));
    state.counters["pages_per_s"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
    state.counters["download_us"] = double(total.downloadNs) / 1000.0 / pages;
    state.counters["scan_us"] = double(total.scanNs) / 1000.0 / pages;
}

void BM_WgetSpider(benchmark::State& state) {
    int pages = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        QProcess wget;
        wget.setWorkingDirectory(dir.path());
        wget.setProcessChannelMode(QProcess::MergedChannels);
        wget.start(QStringLiteral("wget"),
                   {QStringLiteral("--recursive"), QStringLiteral("--level=inf"),
                    QStringLiteral("--spider"), QStringLiteral("--no-verbose"),
                    QStringLiteral("--no-proxy"), QStringLiteral("-e"),
                    QStringLiteral("robots=off"), g_site->url(0)});
        if (!wget.waitForFinished(600'000)) {
            state.SkipWithError("wget did not finish");
            wget.kill();
            wget.waitForFinished();
            break;
        }
        // One line per page fetched: "<date> <time> URL:http://... [size/size] -> ...".
        pages += int(wget.readAll().count(" URL:"));
    }
    state.counters["pages"] = benchmark::Counter(double(pages) / double(state.iterations()));
    state.counters["pages_per_s"] = benchmark::Counter(double(pages), benchmark::Counter::kIsRate);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The page folder of this run goes in a temporary folder, and the loopback
    // crawl must not go through a proxy.
    qputenv("no_proxy", "*");
    Site site;
    if (!site.start())
        return 1;
    g_site = &site;
    benchmark::RegisterBenchmark("BM_ExtractForever", BM_ExtractForever)
        ->ArgName("parallel")
        ->Arg(1)
        ->Arg(16)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("BM_WgetSpider", BM_WgetSpider)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemovePageFolder();
    return 0;
}
