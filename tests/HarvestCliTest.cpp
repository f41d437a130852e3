// orvelle-harvest run as a process against a loopback web server: the options,
// standard input, the three output formats byte for byte, the exit statuses and
// Ctrl-C.
#include "export/SaveComma.h"
#include "export/SaveList.h"
#include "lists/ListView.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/Permissions.h"
#include "tests/support/RawServer.h"
#include "tests/support/RunSummary.h"
#include "tests/support/ScriptedShell.h"
#include "tests/support/TestCertificate.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <limits>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

// Every secret the identity rows give (header values, cookies, passwords) holds
// this; none may ever show on standard output or standard error.
const std::string Secret = "s3cret";

const QString HarvestPath = QStringLiteral(ORVELLE_HARVEST_PATH);
constexpr int FinishMs = 60000;

struct Outcome {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    std::string out;
    std::string err;     // without the summary line
    std::string summary; // the run's summary line, or empty
};

// Points the program's page folder into a temporary folder of the test.
void useTemporaryFolder(QProcess& process, const QTemporaryDir& temp) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp.path());
    env.insert(QStringLiteral("TEMP"), temp.path());
    process.setProcessEnvironment(env);
}

QStringList toArguments(const std::vector<std::string>& args) {
    QStringList list;
    for (const std::string& a : args)
        list.append(QString::fromStdString(a));
    return list;
}

Outcome finish(QProcess& process) {
    if (!process.waitForFinished(FinishMs)) {
        ADD_FAILURE() << "orvelle-harvest did not end";
        process.kill();
        process.waitForFinished();
    }
    Outcome o;
    o.exitCode = process.exitCode();
    o.status = process.exitStatus();
    o.out = process.readAllStandardOutput().toStdString();
    o.err = process.readAllStandardError().toStdString();
    o.summary = TakeSummary(o.err);
    return o;
}

// Runs orvelle-harvest to its end with input on its standard input.
Outcome harvest(const std::vector<std::string>& args, const std::string& input = {},
                const std::function<void(QProcess&)>& prepare = {}) {
    QTemporaryDir temp;
    QProcess process;
    useTemporaryFolder(process, temp);
    if (prepare)
        prepare(process);
    process.start(HarvestPath, toArguments(args));
    if (!process.waitForStarted()) {
        ADD_FAILURE() << "cannot start " << HarvestPath.toStdString();
        return {};
    }
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    const Outcome o = finish(process);
    // The private page folder goes with the program.
    EXPECT_EQ(QDir(temp.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
    return o;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The three formats, written out from their definitions; Raw: the results as given.
enum class Format { Lines, Spaced, Comma, Raw };

std::string render(Format format, const std::vector<std::string>& results) {
    std::string out;
    switch (format) {
    case Format::Lines:
        for (const std::string& r : results)
            out += r + "\n";
        break;
    case Format::Spaced: {
        size_t width = 9; // "Result(s)"
        for (const std::string& r : results)
            width = std::max(width, r.size());
        auto line = [&](const std::string& text) {
            return text + std::string(width - text.size(), ' ') + "\t\r\n";
        };
        out = line("Result(s)");
        for (const std::string& r : results)
            out += line(r);
        break;
    }
    case Format::Comma:
        for (size_t i = 0; i < results.size(); ++i)
            out += results[i] + (i + 1 < results.size() ? "," : "") + "\r\n";
        break;
    case Format::Raw:
        for (const std::string& r : results)
            out += r;
        break;
    }
    return out;
}

std::string gzip(const std::string& text) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(text.size() + 256, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

std::string urlset(const std::vector<std::string>& locs, const char* root = "urlset",
                   const char* entry = "url") {
    std::string xml = std::string("<?xml version=\"1.0\"?><") + root +
                      " xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">";
    for (const std::string& loc : locs)
        xml += std::string("<") + entry + "><loc>" + loc + "</loc></" + entry + ">";
    return xml + "</" + root + ">";
}

// The sitemap site, {m}, a server of its own: robots.txt names an index of
// pages.xml (/, a.html, orphan.html and a page on another host) and
// more.xml.gz (b.html, stored gzipped); "/" links to a.html and b.html, a.html to
// c.html, orphan.html to a.html. Asked for as localhost, the same server is a
// hostile site: robots.txt names a sitemap that is no XML, an endless one, an
// index that names itself and an ftp address; its /sitemap.xml lists ok.html
// beside two addresses that are not http.
void serveSitemaps(LoopbackServer& maps) {
    const auto here = [](const httplib::Request& req) {
        return std::string(req.get_header_value("Host").rfind("localhost", 0) == 0
                               ? "http://localhost:"
                               : "http://127.0.0.1:") +
               std::to_string(req.local_port);
    };
    maps.server().Get("/robots.txt", [here](const httplib::Request& req, httplib::Response& res) {
        const std::string h = here(req);
        if (h.rfind("http://localhost", 0) == 0)
            res.set_content("Sitemap: " + h + "/notxml\nSitemap: " + h + "/endless\nSitemap: " + h +
                                "/loop.xml\nSitemap: ftp://" + h.substr(7) + "/x.xml\n",
                            "text/plain");
        else
            res.set_content("User-agent: *\nDisallow:\n\nSitemap: " + h + "/index.xml\n",
                            "text/plain");
    });
    maps.server().Get("/index.xml", [here](const httplib::Request& req, httplib::Response& res) {
        const std::string h = here(req);
        res.set_content(urlset({h + "/pages.xml", h + "/more.xml.gz"}, "sitemapindex", "sitemap"),
                        "application/xml");
    });
    maps.server().Get("/pages.xml", [here](const httplib::Request& req, httplib::Response& res) {
        const std::string h = here(req);
        res.set_content(urlset({h + "/", h + "/a.html", " " + h + "/orphan.html\n",
                                "http://127.0.0.2:1/x.html"}),
                        "application/xml");
    });
    maps.server().Get("/more.xml.gz", [here](const httplib::Request& req, httplib::Response& res) {
        res.set_content(gzip(urlset({here(req) + "/b.html"})), "application/gzip");
    });
    maps.server().Get("/loop.xml", [here](const httplib::Request& req, httplib::Response& res) {
        res.set_content(urlset({here(req) + "/loop.xml"}, "sitemapindex", "sitemap"),
                        "application/xml");
    });
    maps.server().Get("/sitemap.xml", [here](const httplib::Request& req, httplib::Response& res) {
        const std::string h = here(req);
        if (h.rfind("http://localhost", 0) != 0) {
            res.status = 404;
            return;
        }
        res.set_content(urlset({"javascript:alert(1)", h + "/ok.html", "ftp://x/"}),
                        "application/xml");
    });
    maps.page("/notxml", "<html><p>not a sitemap");
    maps.hang("/endless", 64 * 1024);
    maps.page("/", R"(<a href="a.html"></a><a href="b.html"></a>)");
    maps.page("/a.html", R"(<a href="c.html"></a>)");
    maps.page("/orphan.html", R"(<a href="a.html"></a>)");
    for (const char* empty : {"/b.html", "/c.html", "/ok.html"})
        maps.page(empty, "");
    maps.start();
}

// /id/ answers with a link that says what came with the request: the user agent,
// whether X-Token and Authorization held the secret (yes, no, or wrong), and the
// names of the cookies in the order sent (a name with a wrong value marked "!").
// next, when given, is linked to as well.
void echoIdentity(LoopbackServer& server, const std::string& next) {
    server.server().Get("/id/", [next](const httplib::Request& req, httplib::Response& res) {
        const auto verdict = [&](const char* name, const std::string& expected) {
            return !req.has_header(name)                    ? "no"
                   : req.get_header_value(name) == expected ? "yes"
                                                            : "wrong";
        };
        std::string cookies;
        std::string sent = req.get_header_value("Cookie");
        for (size_t at = 0; at < sent.size();) {
            const size_t end = std::min(sent.find("; ", at), sent.size());
            const std::string pair = sent.substr(at, end - at);
            const std::string name = pair.substr(0, pair.find('='));
            cookies += (cookies.empty() ? "" : ",") + name +
                       (pair == name + "=" + Secret + "-" + name ? "" : "!");
            at = end + 2;
        }
        std::string agent = req.get_header_value("User-Agent");
        std::replace(agent.begin(), agent.end(), ' ', '+');
        res.set_content("<a href=\"/seen?ua=" + agent + "&token=" + verdict("X-Token", Secret) +
                            "&cookie=" + cookies +
                            "&auth=" + verdict("Authorization", "Basic dXNlcjpzM2NyZXQ=") +
                            "\"></a>" + (next.empty() ? "" : "<a href=\"" + next + "\"></a>"),
                        "text/html");
    });
    server.page("/seen", "");
}

void writeFile(const QString& path, const std::string& text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()))
        throw std::runtime_error("cannot write " + path.toStdString());
}

// The site: "/" links to a.html and b.html (and shows logo.png); a.html links to
// c.html (and shows pic.png); b.html links back to a.html; c.html has no links.
// /g/N links to /g/2N and /g/2N+1 for ever; /slow answers after ten seconds;
// /large sends 12 MiB and then nothing more; /missing is a 404.
// The scope site: /s/ links to a.html, to {o}/x.html on a second loopback host
// and to skip/b.html; a.html leads to deep.html and on to deeper.html, b.html to
// c.html, {o}/x.html to {o}/y.html. robots.txt keeps Orvelle out of /s/skip/.
// /site/, asked for as x.site.localhost, links to y.site.localhost (the same
// site) and to b.localhost (another). /retry answers 429 the first time, /busy
// every time, both asking to wait a second.
class HarvestCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_stop = false;
        // The identity rows' files ({d}): a header, cookies, credentials and the
        // TLS server's own authority.
        s_data = new QTemporaryDir;
        const QString d = s_data->path();
        writeFile(d + QStringLiteral("/token.txt"), "X-Token: " + Secret + "\n");
        writeFile(d + QStringLiteral("/cookies.txt"),
                  "# Netscape HTTP Cookie File\n"
                  "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\ts3cret-sid\n"
                  "127.0.0.1\tFALSE\t/id/\tFALSE\t0\tdeep\ts3cret-deep\n"
                  "127.0.0.1\tFALSE\t/nope/\tFALSE\t0\tnope\ts3cret-nope\n"
                  "127.0.0.1\tFALSE\t/\tTRUE\t0\tsecure\ts3cret-secure\n"
                  "127.0.0.1\tFALSE\t/\tFALSE\t1\told\ts3cret-old\n"
                  "#HttpOnly_127.0.0.2\tFALSE\t/\tFALSE\t0\tother\ts3cret-other\n");
        // The default entry would log in everywhere: it is never used.
        writeFile(d + QStringLiteral("/netrc"), "machine 127.0.0.1 login user password " + Secret +
                                                    "\ndefault login user password " + Secret +
                                                    "\n");
        const TestCertificate certificate = MakeTestCertificate(d);
        s_tls = new LoopbackServer(certificate.certPath, certificate.keyPath);
        s_tls->page("/", R"(<a href="a.html">A</a>)");
        s_tls->start();
        s_other = new LoopbackServer;
        echoIdentity(*s_other, "");
        s_other->page("/x.html", R"(<a href="/y.html">y</a>)");
        s_other->page("/y.html", "");
        s_other->start("127.0.0.2");
        s_maps = new LoopbackServer;
        serveSitemaps(*s_maps);
        s_server = new LoopbackServer;
        echoIdentity(*s_server, s_other->url("/id/").toStdString());
        s_server->redirect("/id/away", s_other->url("/id/").toStdString());
        s_server->server().Get("/set", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=s3cret-changed");
            res.headers.emplace("Set-Cookie", "fresh=s3cret-fresh; Path=/; HttpOnly");
            res.headers.emplace("Set-Cookie", "gone=x; Max-Age=0");
            res.set_content("", "text/html");
        });
        s_server->page("/s/", R"(<a href="a.html"></a><a href=")" +
                                  s_other->url("/x.html").toStdString() +
                                  R"("></a><a href="/s/skip/b.html"></a><img src="s.png">)");
        s_server->page("/s/a.html", R"(<a href="deep.html"></a>)");
        s_server->page("/s/deep.html", R"(<a href="deeper.html"></a>)");
        s_server->page("/s/skip/b.html", R"(<a href="c.html"></a>)");
        for (const char* empty : {"/s/deeper.html", "/s/skip/c.html"})
            s_server->page(empty, "");
        s_server->page("/robots.txt", "# RFC 9309\nUser-agent: orvelle/1.0\nDisallow: /s/skip/\n\n"
                                      "User-agent: *\nDisallow: /\n");
        s_server->server().Get("/site/", [](const httplib::Request& req, httplib::Response& res) {
            const std::string port = std::to_string(req.local_port);
            res.set_content("<a href=\"http://y.site.localhost:" + port +
                                "/a.html\"></a><a href=\"http://b.localhost:" + port +
                                "/b.html\"></a>",
                            "text/html");
        });
        s_server->server().Get("/retry", [](const httplib::Request&, httplib::Response& res) {
            if (s_retried++ == 0) {
                res.status = 429;
                res.set_header("Retry-After", "1");
                return;
            }
            res.set_content(R"(<a href="after.html"></a>)", "text/html");
        });
        s_server->server().Get("/busy", [](const httplib::Request&, httplib::Response& res) {
            res.status = 429;
            res.set_header("Retry-After", "1");
        });
        s_server->page("/", R"(<a href="a.html">A</a> <a HREF="/b.html">B</a>
<img src="logo.png"> <a href="a.html">A again</a>)");
        s_server->page("/a.html", R"(<a href="c.html">C</a> <img src="pic.png">)");
        s_server->page("/b.html", R"(<a href="a.html">A</a>)");
        s_server->page("/c.html", "no links here");
        s_server->page("/forms.html", R"(<a href='a.html'><img srcset="s.png 1x, t.png 2x">)");
        s_server->server().Get(
            R"(/g/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
                const long long n = std::stoll(req.matches[1]);
                // Deep down the numbers would overflow: there the site ends.
                if (n > (std::numeric_limits<long long>::max() - 1) / 2) {
                    res.set_content("the end", "text/html");
                    return;
                }
                res.set_content("<a href=\"/g/" + std::to_string(2 * n) + "\">l</a><a href=\"/g/" +
                                    std::to_string(2 * n + 1) + "\">r</a>",
                                "text/html");
            });
        s_server->server().Get("/slow", [](const httplib::Request&, httplib::Response& res) {
            for (int i = 0; i < 200 && !s_stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            res.set_content(R"(<a href="late.html">late</a>)", "text/html");
        });
        s_server->hang("/large", 12 << 20);
        // The links to check: a page, a 404, a 500, two redirects (the second
        // relative), and a server that refuses HEAD.
        s_server->page("/check/", R"(<a href="ok.html#top"></a><a href="/missing"></a>
<a href="err"></a><a href="r1"></a><a href="nohead"></a><a href="mailto:a@b.c"></a>)");
        s_server->page("/check/ok.html", "");
        s_server->status("/check/err", 500);
        s_server->redirect("/check/r1", "/check/r2", 301);
        s_server->server().Get("/check/r2", [](const httplib::Request&, httplib::Response& res) {
            res.status = 302;
            res.set_header("Location", "ok.html");
        });
        s_server->server().Get("/check/nohead",
                               [](const httplib::Request& req, httplib::Response& res) {
                                   if (req.method == "HEAD")
                                       res.status = 405;
                                   else
                                       res.set_content(std::string(1 << 16, 'x'), "text/plain");
                               });
        s_server->start();
    }
    static void TearDownTestSuite() {
        s_stop = true;
        delete s_server;
        s_server = nullptr;
        delete s_other;
        s_other = nullptr;
        delete s_maps;
        s_maps = nullptr;
        delete s_tls;
        s_tls = nullptr;
        delete s_data;
        s_data = nullptr;
    }

    static std::string base() { return s_server->url("").toStdString(); }
    static std::string expand(const std::string& text) {
        std::string expanded =
            replaceAll(replaceAll(text, "{}", base()), "{o}", s_other->url("").toStdString());
        expanded = replaceAll(expanded, "{t}", s_tls->url("").toStdString());
        expanded = replaceAll(expanded, "{d}", s_data->path().toStdString());
        expanded = replaceAll(expanded, "{m}", s_maps->url("").toStdString());
        expanded =
            replaceAll(expanded, "{h}", "http://localhost:" + std::to_string(s_maps->port()));
        return replaceAll(expanded, "{port}", std::to_string(s_server->port()));
    }
    static std::vector<std::string> expand(std::vector<std::string> texts) {
        for (std::string& t : texts)
            t = expand(t);
        return texts;
    }

    static LoopbackServer* s_server;
    static LoopbackServer* s_other;
    static LoopbackServer* s_maps;
    static LoopbackServer* s_tls;
    static QTemporaryDir* s_data;
    static std::atomic<bool> s_stop;
    static std::atomic<int> s_retried;
};

LoopbackServer* HarvestCli::s_server = nullptr;
LoopbackServer* HarvestCli::s_other = nullptr;
LoopbackServer* HarvestCli::s_maps = nullptr;
LoopbackServer* HarvestCli::s_tls = nullptr;
QTemporaryDir* HarvestCli::s_data = nullptr;
std::atomic<bool> HarvestCli::s_stop{false};
std::atomic<int> HarvestCli::s_retried{0};

struct CliCase {
    const char* name;
    // "{}" stands for the server's address, "{o}" for the second one's, "{t}"
    // for the TLS server's, "{d}" for the folder of the identity files
    std::vector<std::string> args;
    std::string input; // standard input
    int exitCode;
    Format format;
    std::vector<std::string> results;      // standard output, in format
    std::string errContains;               // empty: standard error stays empty
    std::vector<std::string> errAlso = {}; // more that standard error holds
};

void PrintTo(const CliCase& c, std::ostream* os) {
    *os << c.name;
}

class HarvestCliCases : public HarvestCli, public ::testing::WithParamInterface<CliCase> {};

TEST_P(HarvestCliCases, WritesTheResultsAndEndsWithItsStatus) {
    const CliCase& c = GetParam();
    const Outcome o = harvest(expand(c.args), expand(c.input));
    EXPECT_EQ(o.status, QProcess::NormalExit);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    EXPECT_EQ(o.out, render(c.format, expand(c.results)));
    if (c.errContains.empty())
        EXPECT_EQ(o.err, "");
    else
        EXPECT_NE(o.err.find(expand(c.errContains)), std::string::npos) << o.err;
    for (const std::string& also : c.errAlso)
        EXPECT_NE(o.err.find(expand(also)), std::string::npos) << o.err;
    EXPECT_EQ(o.out.find(Secret), std::string::npos) << o.out;
    EXPECT_EQ((o.err + o.summary).find(Secret), std::string::npos) << o.err;
    // A run that went its way ends with the window's status text.
    const auto given = [&](const std::string& a) {
        return std::any_of(c.args.begin(), c.args.end(),
                           [&](const std::string& arg) { return arg.rfind(a, 0) == 0; });
    };
    // A page limit stops the run on the person's behalf.
    const char* summary = given("-q") || c.exitCode == 2        ? ""
                          : c.exitCode == 4                     ? "No page could be downloaded: "
                          : given("-n") || given("--max-pages") ? "Stopped after "
                                                                : "Finished: ";
    if (c.exitCode == 0 || c.exitCode == 2 || c.exitCode == 4) {
        EXPECT_EQ(o.summary.substr(0, std::strlen(summary)), summary) << o.summary;
    }
}

// The jsonl record of a link of /check/ and what its check found.
std::string CheckedJson(const std::string& link, int status, const std::string& final,
                        const std::string& redirects, const std::string& error, bool broken) {
    const std::string url = link[0] == '/' ? "{}" + link : "{}/check/" + link;
    return R"({"url":")" + url + R"(","kind":"href","page":"{}/check/","listed":"{}/check/",)" +
           R"("depth":0,"status":)" + std::to_string(status) + R"(,"final":")" + final +
           R"(","redirects":)" + redirects + R"(,"error":")" + error + R"(","broken":)" +
           (broken ? "true" : "false") + "}\n";
}

const std::vector<std::string> SiteResults = {"{}/a.html", "{}/b.html"};
// What the two /id/ pages saw, in the order of a crawl of {}/id/ to depth 1.
std::vector<std::string> Seen(const std::string& here, const std::string& there) {
    return {"{}/seen?" + here, "{o}/id/", "{o}/seen?" + there};
}
const std::string Agent = "ua=Orvelle/" ORVELLE_VERSION;
const std::string Nothing = Agent + "&token=no&cookie=&auth=no";
// The scope site's results, in the order of a crawl without limits.
const std::string A = "{}/s/a.html", X = "{o}/x.html", B = "{}/s/skip/b.html",
                  C = "{}/s/skip/c.html", Y = "{o}/y.html", Deep = "{}/s/deep.html",
                  Deeper = "{}/s/deeper.html";

INSTANTIATE_TEST_SUITE_P(
    Table, HarvestCliCases,
    ::testing::Values(
        CliCase{"OneAddress", {"{}/"}, "", 0, Format::Lines, SiteResults, ""},
        CliCase{"FileLinks", {"--files", "{}/"}, "", 0, Format::Lines, {"{}/logo.png"}, ""},
        CliCase{"Forever",
                {"-F", "{}/"},
                "",
                0,
                Format::Lines,
                {"{}/a.html", "{}/b.html", "{}/c.html"},
                ""},
        CliCase{"ForeverFileLinks",
                {"-fF", "{}/"},
                "",
                0,
                Format::Lines,
                {"{}/logo.png", "{}/pic.png"},
                ""},
        // Newest first: "/" then b.html, then the limit.
        CliCase{"MaxPagesInForever",
                {"--forever", "-n", "2", "{}/"},
                "",
                0,
                Format::Lines,
                SiteResults,
                ""},
        CliCase{"MaxPagesOverListedAddresses",
                {"--max-pages=1", "{}/", "{}/a.html"},
                "",
                0,
                Format::Lines,
                SiteResults,
                ""},
        // CR LF, a blank line, blanks, and LF with the empty item after it.
        CliCase{"StandardInput",
                {"-i", "-"},
                "{}/b.html\r\n\r\n  \r\n{}/a.html\n",
                0,
                Format::Lines,
                {"{}/a.html", "{}/c.html"},
                ""},
        // A FIFO or a device named on the command line is read ("-i <(cmd)").
        CliCase{"InputFromDevStdin",
                {"-i", "/dev/stdin"},
                "{}/b.html\n",
                0,
                Format::Lines,
                {"{}/a.html"},
                ""},
        CliCase{"ArgumentsBeforeFiles",
                {"--input", "-", "{}/a.html"},
                "{}/b.html\n",
                0,
                Format::Lines,
                {"{}/c.html", "{}/a.html"},
                ""},
        CliCase{"SpacedToStandardOutput",
                {"--format", "spaced", "{}/"},
                "",
                0,
                Format::Spaced,
                SiteResults,
                ""},
        CliCase{"CommaToStandardOutput",
                {"--format=comma", "{}/"},
                "",
                0,
                Format::Comma,
                SiteResults,
                ""},
        CliCase{"CommaOfNoResults", {"--format=comma", "{}/c.html"}, "", 0, Format::Comma, {}, ""},
        CliCase{
            "SpacedOfNoResults", {"--format=spaced", "{}/c.html"}, "", 0, Format::Spaced, {}, ""},
        CliCase{"FailedDownloadIsNoError",
                {"{}/missing", "{}/b.html"},
                "",
                0,
                Format::Lines,
                {"{}/a.html"},
                "failed: {}/missing: "},
        CliCase{"QuietSaysNothing",
                {"-q", "{}/missing", "{}/b.html"},
                "",
                0,
                Format::Lines,
                {"{}/a.html"},
                ""},
        CliCase{"MaxPageSize",
                {"--max-page-size", "30", "{}/", "{}/b.html"},
                "",
                0,
                Format::Lines,
                {"{}/a.html"},
                "failed: {}/: page larger than 30 bytes"},
        CliCase{"MaxTime",
                {"--max-time", "0.5", "{}/slow"},
                "",
                4, // no page could be downloaded
                Format::Lines,
                {},
                "failed: {}/slow: "},
        // An address of 100,000 characters is echoed as its first 200 characters.
        CliCase{"LongAddressIsCut",
                {"--retries", "0", "http://127.0.0.1:1/" + std::string(100000, 'a')},
                "",
                4, // no page could be downloaded
                Format::Lines,
                {},
                "failed: http://127.0.0.1:1/" + std::string(181, 'a') + "\u2026: "},
        CliCase{"QuotesAny",
                {"--quotes", "any", "{}/forms.html"},
                "",
                0,
                Format::Lines,
                {"{}/a.html"},
                ""},
        CliCase{"Srcset",
                {"-f", "--srcset", "{}/forms.html"},
                "",
                0,
                Format::Lines,
                {"{}/s.png", "{}/t.png"},
                ""},
        // Usage errors: nothing written, status 2. What each option that does not fit
        // says is in ParseCommandLine's own table (HarvestOptionsTest.cpp).
        CliCase{"UnknownOption",
                {"--deep", "3", "{}/"},
                "",
                2,
                Format::Lines,
                {},
                "orvelle-harvest: unknown option '--deep'.\nTry 'orvelle-harvest --help' for more "
                "information.\n"},
        CliCase{"NoAddresses", {}, "", 2, Format::Lines, {}, "no addresses given"},
        CliCase{"OnlyBlankAddresses",
                {"-i", "-", "  "},
                "\n \r\n\t\n",
                2,
                Format::Lines,
                {},
                "no addresses given"},
        CliCase{"Utf16Input",
                {"-i", "-"},
                std::string("\xFF\xFE{\0}\0", 6),
                2,
                Format::Lines,
                {},
                "standard input: The file is UTF-16: save it as UTF-8."},
        CliCase{"LineLongerThan1MiB",
                {"-i", "-"},
                "{}/b.html\n" + std::string((1 << 20) + 1, 'a'),
                2,
                Format::Lines,
                {},
                "standard input: Line 2 is longer than 1 MiB; nothing was added."},
        CliCase{"MissingInputFile",
                {"-i", "/nonexistent/urls.txt", "{}/"},
                "",
                2,
                Format::Lines,
                {},
                "/nonexistent/urls.txt: file not found"},
        CliCase{"ScopeUnlimited",
                {"-F", "{}/s/"},
                "",
                0,
                Format::Lines,
                {A, X, B, C, Y, Deep, Deeper},
                ""},
        CliCase{"SameHost",
                {"-F", "--same-host", "{}/s/"},
                "",
                0,
                Format::Lines,
                {A, X, B, C, Deep, Deeper},
                ""},
        CliCase{"SameSite",
                {"-F", "--same-site", "http://x.site.localhost:{port}/site/"},
                "",
                0,
                Format::Lines,
                {"http://y.site.localhost:{port}/a.html", "http://b.localhost:{port}/b.html",
                 "http://y.site.localhost:{port}/c.html"},
                ""},
        CliCase{"Include",
                {"-F", "--include", "skip", "--include=deep", "{}/s/"},
                "",
                0,
                Format::Lines,
                {A, X, B, C},
                ""},
        CliCase{"Exclude",
                {"-F", "--exclude", "skip/", "{}/s/"},
                "",
                0,
                Format::Lines,
                {A, X, B, Y, Deep, Deeper},
                ""},
        CliCase{"Match", {"-F", "--match", "skip/", "{}/s/"}, "", 0, Format::Lines, {B, C}, ""},
        CliCase{"DepthZero", {"-F", "--depth", "0", "{}/s/"}, "", 0, Format::Lines, {A, X, B}, ""},
        CliCase{"DepthOne",
                {"-F", "--depth=1", "{}/s/"},
                "",
                0,
                Format::Lines,
                {A, X, B, C, Y, Deep},
                ""},
        CliCase{"Robots",
                {"-F", "--robots", "{}/s/"},
                "",
                0,
                Format::Lines,
                {A, X, B, Y, Deep, Deeper},
                ""},
        // robots.txt applies to the listed addresses too.
        CliCase{"RobotsKeepsAListedAddressOut",
                {"--robots", "{}/s/skip/b.html", "{}/"},
                "",
                0,
                Format::Lines,
                SiteResults,
                "failed: {}/s/skip/b.html: robots.txt disallows it"},
        CliCase{"AnotherSchemeIsNotFetched",
                {"javascript:alert(1)", "ftp://127.0.0.1:{port}/x"},
                "",
                4,
                Format::Lines,
                {},
                "failed: javascript:alert(1): not an http or https address"},
        CliCase{"WaitRetriesAfter429",
                {"--wait", "0.05", "{}/retry"},
                "",
                0,
                Format::Lines,
                {"{}/after.html"},
                "waiting 1 s: {}/retry answered HTTP 429"},
        // A server that asks for more than --max-retry-wait has failed the page; with
        // --retries 0 it is not asked again at all.
        CliCase{"MaxRetryWait",
                {"--max-retry-wait", "0", "{}/busy"},
                "",
                4,
                Format::Lines,
                {},
                "failed: {}/busy: server asked to wait 1 s"},
        CliCase{"RetriesZero",
                {"--retries", "0", "--max-retry-wait", "0", "{}/busy"},
                "",
                4,
                Format::Lines,
                {},
                "failed: {}/busy: HTTP 429"},
        CliCase{"JsonLines",
                {"-fF", "--depth", "0", "--format", "jsonl", "{}/s/"},
                "",
                0,
                Format::Raw,
                {R"({"url":"{}/s/s.png","kind":"src","page":"{}/s/","listed":"{}/s/","depth":0})"
                 "\n"},
                ""},
        CliCase{"Csv",
                {"--format=csv", "--match", "a.html|png", "-f", "{}/s/", "{}/s/a.html"},
                "",
                0,
                Format::Raw,
                {"url,kind,page,listed,depth\r\n", "{}/s/s.png,src,{}/s/,{}/s/,0\r\n"},
                ""},
        // The sitemaps: robots.txt names an index of a sitemap and a gzipped one; what
        // they list follows the listed page's results and is visited after it. A listed
        // address that is no web address has no sitemap of the site before.
        CliCase{"SitemapsAdd",
                {"--sitemaps", "add", "{m}/", "ftp://localhost/"},
                "",
                0,
                Format::Lines,
                {"{m}/a.html", "{m}/b.html", "{m}/", "{m}/a.html", "{m}/orphan.html", "{m}/b.html",
                 "{m}/c.html"},
                "failed: {m}/pages.xml: 1 address of another host left out"},
        // The pages are visited, and none of their links followed.
        CliCase{
            "SitemapsOnly",
            {"--sitemaps", "only", "-F", "--format", "jsonl", "--match", "c.html|orphan", "{m}/"},
            "",
            0,
            Format::Raw,
            {R"({"url":"{m}/orphan.html","kind":"sitemap","page":"{m}/pages.xml",)"
             R"("listed":"{m}/","depth":0})"
             "\n",
             R"({"url":"{m}/c.html","kind":"href","page":"{m}/a.html","listed":"{m}/",)"
             R"("depth":1})"
             "\n"},
            "failed: {m}/pages.xml: "},
        CliCase{"SitemapsCompare",
                {"--sitemaps", "compare", "-F", "-q", "{m}/"},
                "",
                0,
                Format::Lines,
                {"{m}/a.html", "{m}/b.html", "{m}/c.html", "sitemap-only {m}/orphan.html",
                 "unlisted {m}/c.html"},
                ""},
        CliCase{"SitemapsHostile",
                {"--sitemaps", "add", "--max-page-size", "4K", "{h}/"},
                "",
                0,
                Format::Lines,
                {"{h}/a.html", "{h}/b.html", "{h}/ok.html"},
                "failed: {h}/notxml: not a sitemap: ",
                {"failed: {h}/endless: page larger than 4096 bytes",
                 "failed: {h}/loop.xml: sitemap index loop: {h}/loop.xml is read already",
                 "failed: ftp://localhost:", "/x.xml: not an http or https address",
                 "failed: {h}/sitemap.xml: 2 addresses not http or https left out"}},
        CliCase{"CheckPrintsTheBrokenLinks",
                {"--check", "{}/check/"},
                "",
                3,
                Format::Lines,
                {"404\t{}/missing\t{}/check/", "500\t{}/check/err\t{}/check/"},
                ""},
        CliCase{"CheckRecords",
                {"--check", "--format", "jsonl", "{}/check/"},
                "",
                3,
                Format::Raw,
                {CheckedJson("ok.html", 200, "{}/check/ok.html", "[]", "", false),
                 CheckedJson("/missing", 404, "{}/missing", "[]", "HTTP 404", true),
                 CheckedJson("err", 500, "{}/check/err", "[]", "HTTP 500", true),
                 CheckedJson("r1", 200, "{}/check/ok.html",
                             R"([{"status":301,"address":"{}/check/r2"},)"
                             R"({"status":302,"address":"{}/check/ok.html"}])",
                             "", false),
                 CheckedJson("nohead", 200, "{}/check/nohead", "[]", "", false),
                 R"({"url":"mailto:a@b.c","kind":"href","page":"{}/check/","listed":"{}/check/",)"
                 R"("depth":0,"status":0,"final":"","redirects":[],)"
                 R"("error":"not checked: not an http or https address","broken":false})"
                 "\n"},
                ""},
        CliCase{"CheckAccepts",
                {"--check", "--accept", "200..299, 404,500..500", "{}/check/"},
                "",
                0,
                Format::Lines,
                {},
                ""},
        CliCase{"CheckCsvAllVisitedFailed",
                {"--check", "--format", "csv", "{}/missing"},
                "",
                4,
                Format::Raw,
                {"url,kind,page,listed,depth,status,final,redirects,error,broken\r\n"},
                "failed: {}/missing: HTTP 404"},
        CliCase{"AcceptOutOfRange",
                {"--check", "--accept", "200..600", "{}/"},
                "",
                2,
                Format::Lines,
                {},
                "--accept: '200..600' is not a status code or a range A..B within 100-599."},
        CliCase{"AcceptNeedsCheck",
                {"--accept", "200", "{}/"},
                "",
                2,
                Format::Lines,
                {},
                "--accept needs --check."},
        CliCase{"CheckNotSpaced",
                {"--check", "--format", "spaced", "{}/"},
                "",
                2,
                Format::Lines,
                {},
                "--check writes lines, jsonl or csv, not --format spaced."},
        CliCase{"TlsToAPlainServer",
                {"https://127.0.0.1:{port}/"},
                "",
                4,
                Format::Lines,
                {},
                "TLS handshake failed (is this a plain http:// server?): "},
        CliCase{"OutputFolderMissing",
                {"-o", "/nonexistent/out.txt", "{}/"},
                "",
                1,
                Format::Lines,
                {},
                "cannot write /nonexistent/out.txt"},
        // Who asks, and what each host is told.
        CliCase{"IdentityByDefault",
                {"-F", "--depth", "1", "{}/id/"},
                "",
                0,
                Format::Lines,
                Seen(Nothing, Nothing),
                ""},
        CliCase{"UserAgentToEveryHost",
                {"-F", "--depth", "1", "--user-agent", "Tester/2 (loopback)", "{}/id/"},
                "",
                0,
                Format::Lines,
                Seen("ua=Tester/2+(loopback)&token=no&cookie=&auth=no",
                     "ua=Tester/2+(loopback)&token=no&cookie=&auth=no"),
                ""},
        CliCase{"HeaderToTheListedHostOnly",
                {"-F", "--depth", "1", "--header", "X-Token: s3cret", "{}/id/"},
                "",
                0,
                Format::Lines,
                Seen(Agent + "&token=yes&cookie=&auth=no", Nothing),
                ""},
        // A redirect to another host takes no header along.
        CliCase{"HeaderNotAfterARedirectAway",
                {"--header", "X-Token: s3cret", "{}/id/away"},
                "",
                0,
                Format::Lines,
                {"{o}/seen?" + Nothing},
                ""},
        CliCase{"HeaderForAHostOfItsOwn",
                {"-F", "--depth", "1", "--header", "127.0.0.2=X-Token: s3cret", "{}/id/"},
                "",
                0,
                Format::Lines,
                Seen(Nothing, Agent + "&token=yes&cookie=&auth=no"),
                ""},
        CliCase{"HeaderFromAFile",
                {"-F", "--depth", "1", "--header", "@{d}/token.txt", "{}/id/"},
                "",
                0,
                Format::Lines,
                Seen(Agent + "&token=yes&cookie=&auth=no", Nothing),
                ""},
        // By domain, path (the longer first), secure and expiry.
        CliCase{"CookiesByDomainAndPath",
                {"-F", "--depth", "1", "--cookies", "{d}/cookies.txt", "{}/id/"},
                "",
                0,
                Format::Lines,
                Seen(Agent + "&token=no&cookie=deep,sid&auth=no",
                     Agent + "&token=no&cookie=other&auth=no"),
                ""},
        CliCase{"NetrcOnlyToItsMachine",
                {"-F", "--depth", "1", "--netrc-file", "{d}/netrc", "{}/id/"},
                "",
                0,
                Format::Lines,
                Seen(Agent + "&token=no&cookie=&auth=yes", Nothing),
                ""},
        CliCase{"CaCertificate",
                {"--ca-certificate", "{d}/cert.pem", "{t}/"},
                "",
                0,
                Format::Lines,
                {"{t}/a.html"},
                ""},
        CliCase{"UntrustedCertificate",
                {"{t}/"},
                "",
                4,
                Format::Lines,
                {},
                "failed: {t}/: SSL certificate problem"},
        CliCase{"Insecure",
                {"--insecure", "{t}/"},
                "",
                0,
                Format::Lines,
                {"{t}/a.html"},
                "orvelle-harvest: --insecure: no certificate is checked"},
        // A failed download with every secret given says none of them.
        CliCase{"SecretsStayOutOfMessages",
                {"--header", "X-Token: s3cret", "--cookies", "{d}/cookies.txt", "--netrc-file",
                 "{d}/netrc", "{}/missing"},
                "",
                4,
                Format::Lines,
                {},
                "failed: {}/missing: HTTP 404"},
        CliCase{"HeaderThatIsNoHeaderIsNotRepeated",
                {"--header", "X-Token s3cret", "{}/"},
                "",
                2,
                Format::Lines,
                {},
                "--header needs 'Name: value'"},
        CliCase{"HeaderFileMissing",
                {"--header", "@{d}/missing.txt", "{}/"},
                "",
                2,
                Format::Lines,
                {},
                "--header: cannot read {d}/missing.txt"}),
    [](const ::testing::TestParamInfo<CliCase>& info) { return std::string(info.param.name); });

// The links a crawl visits are not asked for again, those beyond it are, once;
// and the output is the same whether one transfer runs at a time or many.
TEST_F(HarvestCli, CheckAsksOnceForEachLinkInTheSameOrderAtAnyParallelism) {
    const auto count = [](const std::vector<std::string>& requests, size_t from,
                          const std::string& path) {
        return std::count(requests.begin() + static_cast<std::ptrdiff_t>(from), requests.end(),
                          path);
    };
    const std::vector<std::string> args = {"--check",  "--forever", "--depth", "1",
                                           "--format", "jsonl",     "{}/",     "{}/check/"};
    const size_t before = s_server->requests().size();
    const Outcome many = harvest(expand(args));
    const std::vector<std::string> requests = s_server->requests();
    std::vector<std::string> oneArgs = args;
    oneArgs.insert(oneArgs.begin(), {"--parallel", "1"});
    const Outcome one = harvest(expand(oneArgs));
    EXPECT_EQ(many.exitCode, 3) << many.err;
    EXPECT_EQ(many.out, one.out);
    EXPECT_EQ(one.exitCode, 3) << one.err;
    // Visited at depth 1: a.html, b.html and the links of /check/; checked: c.html.
    for (const char* path : {"/a.html", "/b.html", "/c.html", "/check/err", "/check/nohead"})
        EXPECT_EQ(count(requests, before, path), 1) << path;
    EXPECT_NE(many.out.find(expand(R"("url":"{}/c.html","kind":"href","page":"{}/a.html")")),
              std::string::npos)
        << many.out;
}

// The cookies set by answers are not sent during the run; the jar gets them with
// those read, one of a kind, sorted, the expired ones gone, for its owner alone.
TEST_F(HarvestCli, CookieJarHoldsTheCookiesReadAndSet) {
    QTemporaryDir temp;
    const QString jar = temp.filePath(QStringLiteral("jar.txt"));
    const Outcome o =
        harvest({"--parallel", "1", "--cookies", expand("{d}/cookies.txt"), "--cookie-jar",
                 jar.toStdString(), expand("{}/set"), expand("{}/id/")});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, expand("{}/seen?" + Agent + "&token=no&cookie=deep,sid&auth=no\n{o}/id/\n"));
    QFile file(jar);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "# Netscape HTTP Cookie File\n"
              "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tfresh\ts3cret-fresh\n"
              "127.0.0.1\tFALSE\t/\tTRUE\t0\tsecure\ts3cret-secure\n"
              "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\ts3cret-changed\n"
              "127.0.0.1\tFALSE\t/id/\tFALSE\t0\tdeep\ts3cret-deep\n"
              "127.0.0.1\tFALSE\t/nope/\tFALSE\t0\tnope\ts3cret-nope\n"
              "#HttpOnly_127.0.0.2\tFALSE\t/\tFALSE\t0\tother\ts3cret-other\n");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(jar).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The state file keeps the secrets as digests only, and a resumed run whose
// secrets differ is refused without saying them.
TEST_F(HarvestCli, StateFileKeepsNoSecret) {
    QTemporaryDir temp;
    const std::string state = temp.filePath(QStringLiteral("run.db")).toStdString();
    const std::vector<std::string> identity = {
        "--header",      "X-Token: s3cret",   "--cookies", expand("{d}/cookies.txt"),
        "--netrc-file",  expand("{d}/netrc"), "--state",   state,
        expand("{}/id/")};
    const Outcome first = harvest(identity);
    EXPECT_EQ(first.exitCode, 0) << first.err;
    for (const QString& name : QDir(temp.path()).entryList(QDir::Files)) {
        QFile file(temp.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(file.readAll().contains(Secret.c_str())) << name.toStdString();
    }
    std::vector<std::string> other = identity;
    other[1] = "X-Token: another s3cret";
    const Outcome refused = harvest(other);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("--header differs (the state file has '***', this run '***')"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.err.find(Secret), std::string::npos) << refused.err;
}

// CURL_CA_BUNDLE takes the place of the system's certificates and
// --ca-certificate adds to it: a server of each authority is trusted in one run.
TEST_F(HarvestCli, CaCertificateAddsToCurlCaBundle) {
    QTemporaryDir folder;
    const TestCertificate second = MakeTestCertificate(folder.path());
    LoopbackServer tls(second.certPath, second.keyPath);
    tls.page("/", R"(<a href="b.html">B</a>)");
    tls.start();
    const auto bundle = [&](QProcess& p) {
        QProcessEnvironment env = p.processEnvironment();
        env.insert(QStringLiteral("CURL_CA_BUNDLE"), QString::fromStdString(second.certPath));
        p.setProcessEnvironment(env);
    };
    const std::vector<std::string> both = {expand("{t}/"), tls.url("/").toStdString()};
    std::vector<std::string> added = {"--ca-certificate", expand("{d}/cert.pem")};
    added.insert(added.end(), both.begin(), both.end());
    const Outcome o = harvest(added, {}, bundle);
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, expand("{t}/a.html\n") + tls.url("/b.html").toStdString() + "\n");
    const Outcome alone = harvest(both, {}, bundle);
    EXPECT_EQ(alone.out, tls.url("/b.html").toStdString() + "\n");
    EXPECT_NE(alone.err.find(expand("failed: {t}/: SSL certificate problem")), std::string::npos)
        << alone.err;
}

TEST_F(HarvestCli, HelpAndVersionGoToStandardOutput) {
    const Outcome help = harvest({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: orvelle-harvest [OPTIONS] [ADDRESS...]\n", 0), 0u);
    for (const char* option :
         {"--input",      "--files",           "--forever",    "--max-pages",
          "--timeout",    "--connect-timeout", "--max-time",   "--max-page-size",
          "--retries",    "--max-retry-wait",  "--output",     "--format",
          "--quiet",      "--user-agent",      "--header",     "--cookies",
          "--cookie-jar", "--netrc",           "--netrc-file", "--ca-certificate",
          "--insecure",   "Exit status:",      "143 SIGTERM"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    const Outcome version = harvest({"-V"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "orvelle-harvest " ORVELLE_VERSION "\n");
}

TEST_F(HarvestCli, OutputFileReplacedInEachFormat) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("results.txt")).toStdString();
    for (auto [name, format] : {std::pair{"lines", Format::Lines},
                                {"spaced", Format::Spaced},
                                {"comma", Format::Comma}}) {
        {
            QFile old(QString::fromStdString(path));
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(4096, 'x'));
        }
        const Outcome o = harvest({"--format", name, "-o", path, expand("{}/")});
        EXPECT_EQ(o.exitCode, 0) << name << o.err;
        EXPECT_EQ(o.out, "") << name;
        QFile written(QString::fromStdString(path));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll().toStdString(), render(format, expand(SiteResults))) << name;
    }
}

// The spaced and comma files are what the window's save commands write for the
// same results list.
TEST_F(HarvestCli, SameBytesAsTheWindowsSaveCommands) {
    QTemporaryDir dir;
    ListView results;
    results.AddColumn(QStringLiteral("Result(s)"));
    for (const std::string& r : expand({"{}/a.html", "{}/b.html", "{}/c.html"}))
        results.Add(QString::fromStdString(r));
    ScriptedShell shell;
    const QString spaced = dir.filePath(QStringLiteral("window-spaced.txt"));
    const QString comma = dir.filePath(QStringLiteral("window-comma.txt"));
    SaveListviewProperlySpaced(shell, results, spaced);
    SaveListviewAsCommaDelimToFile(shell, results, comma);
    ASSERT_TRUE(shell.messages.empty());

    for (auto [name, windowFile] : {std::pair{"spaced", spaced}, {"comma", comma}}) {
        const QString path = dir.filePath(QStringLiteral("cli-") + QLatin1String(name));
        const Outcome o =
            harvest({"-F", "--format", name, "-o", path.toStdString(), expand("{}/")});
        EXPECT_EQ(o.exitCode, 0) << name << o.err;
        QFile cli(path), window(windowFile);
        ASSERT_TRUE(cli.open(QIODevice::ReadOnly));
        ASSERT_TRUE(window.open(QIODevice::ReadOnly));
        EXPECT_EQ(cli.readAll(), window.readAll()) << name;
    }
}

// No file of the program may grow past 512 bytes: the pages fit, the results do
// not. The write fails half-way and the old file must stay as it was.
TEST_F(HarvestCli, OutputThatCannotBeWrittenLeavesTheOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.txt"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old results\n");
    }
    const Outcome o = harvest(
        {"--format", "spaced", "-F", "-n", "10", "-o", path.toStdString(), expand("{}/g/1")}, {},
        [](QProcess& p) {
            p.setChildProcessModifier([] {
                struct rlimit limit {
                    512, 512
                };
                setrlimit(RLIMIT_FSIZE, &limit);
                signal(SIGXFSZ, SIG_IGN);
            });
        });
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find("cannot write " + path.toStdString()), std::string::npos) << o.err;
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old results\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1) << "a temporary file was left";
}

// Standard output that cannot take the results, streamed (lines) or written at
// the end (spaced): a full device is a failure, said on standard error; a pipe
// whose reader has gone (`orvelle-harvest ... | head -1`) ends the run without a
// word and with the status of SIGPIPE, and the page folder goes.
TEST_F(HarvestCli, StandardOutputThatCannotBeWritten) {
    struct Row {
        const char* name;
        bool brokenPipe;
        int exitCode;
        std::string errContains; // empty: standard error stays empty
    };
    for (const Row& row : {Row{"FullDevice", false, 1, "cannot write to standard output"},
                           Row{"ReaderGone", true, 141, ""}}) {
        for (const char* format : {"lines", "spaced"}) {
            int fds[2];
            ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
            close(fds[0]);
            const Outcome o =
                harvest({"--format", format, expand("{}/")}, {}, [&row, &fds](QProcess& p) {
                    if (!row.brokenPipe) {
                        p.setStandardOutputFile(QStringLiteral("/dev/full"));
                        return;
                    }
                    // As a shell starts it: SIGPIPE at its default, which ends
                    // the program unless it ignores the signal itself.
                    p.setChildProcessModifier([out = fds[1]] {
                        signal(SIGPIPE, SIG_DFL);
                        dup2(out, STDOUT_FILENO);
                    });
                });
            close(fds[1]);
            EXPECT_EQ(o.status, QProcess::NormalExit) << row.name << ' ' << format;
            EXPECT_EQ(o.exitCode, row.exitCode) << row.name << ' ' << format << o.err;
            if (row.errContains.empty())
                EXPECT_EQ(o.err, "") << row.name << ' ' << format;
            else
                EXPECT_NE(o.err.find(row.errContains), std::string::npos) << o.err;
        }
    }
}

// Reads standard output until it holds at least n lines.
std::string readLines(QProcess& process, int n) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::count(out.begin(), out.end(), '\n') < n &&
           std::chrono::steady_clock::now() < deadline) {
        process.waitForReadyRead(500);
        out += process.readAllStandardOutput().toStdString();
    }
    return out;
}

// One JSON line per visit, in the order of the run, whatever the format.
TEST_F(HarvestCli, VisitsFileHasEveryVisitWithItsStatus) {
    QTemporaryDir temp;
    const std::string path = temp.filePath(QStringLiteral("visits.jsonl")).toStdString();
    const Outcome o =
        harvest({"-q", "--format=csv", "--visits", path, expand("{}/"), expand("{}/missing")});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              expand("{\"url\":\"{}/\",\"final\":\"{}/\",\"status\":200,\"type\":"
                     "\"text/html\",\"bytes\":96,\"depth\":0,\"error\":\"\"}\n"
                     "{\"url\":\"{}/missing\",\"final\":\"{}/missing\",\"status\":404,"
                     "\"type\":\"\",\"bytes\":0,\"depth\":0,\"error\":\"HTTP 404\"}\n"));
}

TEST_F(HarvestCli, CtrlCStopsAForeverRunAndKeepsWhatWasFound) {
    QTemporaryDir temp;
    QProcess process;
    useTemporaryFolder(process, temp);
    process.start(HarvestPath, {QStringLiteral("-F"), QString::fromStdString(expand("{}/g/1"))});
    ASSERT_TRUE(process.waitForStarted());
    std::string out = readLines(process, 6);
    ASSERT_GE(std::count(out.begin(), out.end(), '\n'), 6) << "no results streamed";
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const Outcome o = finish(process);
    out += o.out;
    EXPECT_EQ(o.status, QProcess::NormalExit);
    EXPECT_EQ(o.exitCode, 130);
    // Whole lines only, every one of them a result of the site.
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    size_t lines = 0;
    for (size_t at = 0; at < out.size(); at = out.find('\n', at) + 1, ++lines)
        EXPECT_EQ(out.compare(at, base().size() + 3, base() + "/g/"), 0) << out.substr(at, 80);
    EXPECT_GE(lines, 6u);
}

// A new file gets what was found; an existing one is left as it was, and what
// was found goes beside it, to FILE.partial.
TEST_F(HarvestCli, CtrlCStillWritesTheOutputFile) {
    for (const bool existing : {false, true}) {
        QTemporaryDir temp;
        const QString path = temp.filePath(QStringLiteral("partial.txt"));
        if (existing) {
            QFile old(path);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("old\n");
        }
        QProcess process;
        useTemporaryFolder(process, temp);
        const size_t before = s_server->requests().size();
        process.start(HarvestPath,
                      {QStringLiteral("--forever"), QStringLiteral("--format=comma"),
                       QStringLiteral("-o"), path, QString::fromStdString(expand("{}/g/1"))});
        ASSERT_TRUE(process.waitForStarted());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (s_server->requests().size() < before + 5 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        const Outcome o = finish(process);
        EXPECT_EQ(o.exitCode, 130) << o.err;
        QFile file(existing ? path + QStringLiteral(".partial") : path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const std::string written = file.readAll().toStdString();
        // Comma-delimited: at least the first page's two results, the last without a comma.
        EXPECT_EQ(written.rfind(base() + "/g/2,\r\n" + base() + "/g/3,\r\n", 0), 0u) << written;
        ASSERT_GE(written.size(), 3u);
        EXPECT_EQ(written.substr(written.size() - 2), "\r\n");
        EXPECT_NE(written[written.size() - 3], ',') << written;
        if (existing) {
            QFile old(path);
            ASSERT_TRUE(old.open(QIODevice::ReadOnly));
            EXPECT_EQ(old.readAll(), QByteArray("old\n"));
            EXPECT_NE(o.err.find("partial.txt is left as it was"), std::string::npos) << o.err;
        }
    }
}

// True once the process holds a page file open in the page folder under temp,
// already unlinked: the folder is made and known to its signal handlers, and no
// page file stands in it.
bool HoldsAnUnlinkedPageFile(qint64 pid, const QString& temp) {
    const std::string folder = QFile::encodeName(QDir(temp).canonicalPath()).toStdString();
    const std::string deleted = " (deleted)";
    std::error_code e;
    const std::filesystem::directory_iterator end;
    for (auto fd = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", e);
         !e && fd != end; fd.increment(e)) {
        const std::string target = std::filesystem::read_symlink(fd->path(), e).string();
        if (target.rfind(folder + "/orvelle-", 0) == 0 && target.size() > deleted.size() &&
            target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
            return true;
    }
    return false;
}

// The signals that ask a program to end, during a large download (the page file
// open) with the results going to a file: one stops the run, which writes what
// was found and ends with 128 + the signal's number; a second ends it at once,
// the unfinished results file and the page folder removed. SIGKILL cannot be
// caught: at most the empty private folder stays. One page at a time: the first
// page's results are in before the large one is asked for.
TEST_F(HarvestCli, SignalsDuringALargeDownloadLeaveNothingInTemp) {
    struct Row {
        const char* name;
        std::vector<int> sent;
        bool written; // the results file was put in place
    };
    for (const Row& row :
         {Row{"Sigterm", {SIGTERM}, true}, Row{"Sighup", {SIGHUP}, true},
          Row{"Sigquit", {SIGQUIT}, true}, Row{"Sigint", {SIGINT}, true},
          // Two of a kind sent at once would be one pending signal.
          Row{"SighupThenSigterm", {SIGHUP, SIGTERM}, false}, Row{"Sigkill", {SIGKILL}, false}}) {
        QTemporaryDir temp, out;
        const QString path = out.filePath(QStringLiteral("results.txt"));
        QProcess process;
        useTemporaryFolder(process, temp);
        process.start(HarvestPath,
                      {QStringLiteral("-q"), QStringLiteral("--parallel=1"), QStringLiteral("-o"),
                       path, QString::fromStdString(expand("{}/")),
                       QString::fromStdString(expand("{}/large"))});
        ASSERT_TRUE(process.waitForStarted());
        const QDir tempDir(temp.path());
        const auto entries = [](const QDir& dir) {
            return dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                 QDir::NoDotAndDotDot);
        };
        const pid_t pid = static_cast<pid_t>(process.processId());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!HoldsAnUnlinkedPageFile(pid, temp.path()) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(HoldsAnUnlinkedPageFile(pid, temp.path())) << row.name << ": no page file";
        // Signals sent to a stopped program wait, and all arrive, lowest number
        // first, when it goes on: before it runs any further.
        const bool atOnce = row.sent.size() > 1;
        if (atOnce)
            ::kill(pid, SIGSTOP);
        for (const int signal : row.sent)
            ::kill(pid, signal);
        if (atOnce)
            ::kill(pid, SIGCONT);
        const Outcome o = finish(process);
        if (row.sent[0] == SIGKILL) {
            EXPECT_EQ(o.status, QProcess::CrashExit);
            const QStringList left = entries(tempDir);
            ASSERT_LE(left.size(), 1);
            if (!left.isEmpty()) {
                EXPECT_TRUE(QDir(tempDir.filePath(left[0])).isEmpty()) << "a page file was left";
            }
            continue;
        }
        EXPECT_EQ(o.status, QProcess::NormalExit) << row.name;
        EXPECT_EQ(o.exitCode, 128 + row.sent[0]) << row.name << o.err;
        EXPECT_EQ(entries(tempDir), QStringList()) << row.name;
        EXPECT_EQ(entries(QDir(out.path())),
                  row.written ? QStringList{QStringLiteral("results.txt")} : QStringList())
            << row.name;
        if (row.written) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll().toStdString(), render(Format::Lines, expand(SiteResults)));
        }
    }
}

// Standard output is a pipe that nobody reads: once it is full the program waits
// to write its results, and yields no more. The first Ctrl-C only asks for a stop
// there; the second ends the program at once.
TEST_F(HarvestCli, SecondCtrlCEndsAtOnce) {
    QTemporaryDir temp;
    const QString fifo = temp.filePath(QStringLiteral("fifo"));
    const QByteArray native = QFile::encodeName(fifo);
    ASSERT_EQ(mkfifo(native.constData(), 0600), 0);
    const int reader = open(native.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int capacity = fcntl(reader, F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    QProcess process;
    useTemporaryFolder(process, temp);
    process.setStandardOutputFile(fifo);
    process.start(HarvestPath, {QStringLiteral("-F"), QString::fromStdString(expand("{}/g/1"))});
    ASSERT_TRUE(process.waitForStarted());

    // Full, and no more pages asked for in half a second: the program hangs in its
    // write.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    size_t requests = 0;
    for (int quiet = 0; quiet < 5 && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int queued = 0;
        ioctl(reader, FIONREAD, &queued);
        const size_t now = s_server->requests().size();
        // Nearly full: what is left is less than the next write needs.
        quiet = queued > capacity / 2 && now == requests ? quiet + 1 : 0;
        requests = now;
    }
    const pid_t pid = static_cast<pid_t>(process.processId());
    ::kill(pid, SIGINT);
    EXPECT_FALSE(process.waitForFinished(500)) << "the first Ctrl-C ended the program";
    ::kill(pid, SIGINT);
    const Outcome o = finish(process);
    EXPECT_EQ(o.status, QProcess::NormalExit);
    EXPECT_EQ(o.exitCode, 130);
    close(reader);
    // Even then the private page folder is removed.
    EXPECT_EQ(QDir(temp.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("fifo")});
}

// The time-outs given reach the downloads: a server that never lets the
// connection in and one that sends nothing are given up after a second (at the
// same time: both are fetched at once), and the run goes on.
TEST_F(HarvestCli, ConnectAndStallTimeouts) {
    const RawServer neverAccepts(RawServer::Behaviour::NeverAccept);
    const std::string url = neverAccepts.url("/").toStdString();
    const Outcome o = harvest(
        {"--connect-timeout", "1", "--timeout", "1", url, expand("{}/slow"), expand("{}/b.html")});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out, render(Format::Lines, expand(std::vector<std::string>{"{}/a.html"})));
    EXPECT_EQ(o.err.rfind("failed: " + url + ": ", 0), 0u) << o.err;
    EXPECT_NE(o.err.find(expand("failed: {}/slow: ")), std::string::npos) << o.err;
}

// A results file that cannot be made is found before the first page is fetched,
// even for a run that would never end by itself.
TEST_F(HarvestCli, OutputInAFolderThatCannotBeWrittenFailsAtOnce) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const std::string path = QString(folder + QStringLiteral("/results.txt")).toStdString();
    const size_t before = s_server->requests().size();
    const Outcome o =
        harvest({"-F", "-n", "20", "-o", path, expand("{}/g/1")}, {}, [](QProcess& p) {
            p.setChildProcessModifier([] {
                if (!DropFileOverride())
                    _exit(99);
            });
        });
    EXPECT_EQ(o.exitCode, 1) << o.err;
    EXPECT_NE(o.err.find("cannot write " + path + ": "), std::string::npos) << o.err;
    EXPECT_EQ(s_server->requests().size(), before) << "pages were fetched first";
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// --- A site without end, and two programs at once --------------------------

// The peak resident memory of the largest child this process has waited for.
qint64 PeakChildBytes() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

// A site without end: /c/N links to /c/N+1 and /c/N+2. Visited newest first,
// every page brings two new links, and the addresses stay short.
void ServeEndlessChain(LoopbackServer& server) {
    server.server().Get(R"(/c/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const long long n = std::stoll(req.matches[1]);
        res.set_content("<a href=\"/c/" + std::to_string(n + 1) + "\">a</a><a href=\"/c/" +
                            std::to_string(n + 2) + "\">b</a>",
                        "text/html");
    });
    server.start();
}

// --max-pages ends a run on the endless site with two results a page, and what
// the program holds grows by little more than those.
TEST_F(HarvestCli, TrapSiteEndsAtMaxPagesWithMemoryGrowingByTheResultsOnly) {
    LoopbackServer chain;
    ServeEndlessChain(chain);
    const std::string start = chain.url("/c/0").toStdString();
    qint64 peak[2] = {};
    const int pages[2] = {500, 4500};
    for (int run = 0; run < 2; ++run) {
        const auto began = std::chrono::steady_clock::now();
        const Outcome o = harvest({"-F", "-q", "--max-pages", std::to_string(pages[run]), start});
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - began)
                            .count();
        EXPECT_EQ(o.exitCode, 0) << o.err;
        EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 2 * pages[run]);
        peak[run] = PeakChildBytes();
        std::cout << "[ figure   ] " << pages[run] << " pages: " << ms << " ms, peak "
                  << peak[run] / 1024 << " KiB" << std::endl;
    }
    const qint64 perPage = (peak[1] - peak[0]) / (pages[1] - pages[0]);
    std::cout << "[ figure   ] memory growth per page: " << perPage << " bytes" << std::endl;
    RecordProperty("bytesOfMemoryGrowthPerPage", std::to_string(perPage));
    // Two links of about 30 characters a page, which the results, the seen set
    // and the queue share. (AddressSanitizer holds freed memory back for a while,
    // so there the figure says little.)
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(perPage, 16 * 1024);
#endif
}

// --- Heavy: pages of 50 MB and more ----------------------------------------

using HeavyHarvestCli = HarvestCli;

// A page of n file links; distinct ones, or n times the same empty value.
std::string FileLinksPage(int n, bool distinct) {
    std::string page;
    page.reserve(static_cast<size_t>(n) * 16);
    for (int i = 0; i < n; ++i)
        page += distinct ? "<img src=\"" + std::to_string(i) + "\">" : std::string("src=\"\"");
    return page;
}

// Results streamed to standard output are not kept: three million of them cost
// little more than the page they came from.
TEST_F(HeavyHarvestCli, MillionsOfResultsToStandardOutputAreNotKept) {
    constexpr int Results = 3'000'000;
    const std::string page = FileLinksPage(Results, true);
    LoopbackServer server;
    server.server().Get("/srcs", [&page](const httplib::Request&, httplib::Response& res) {
        res.set_content(page, "application/octet-stream");
    });
    server.start();
    const Outcome o = harvest({"-f", "-q", server.url("/srcs").toStdString()});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), Results);
    const qint64 peak = PeakChildBytes();
    std::cout << "[ figure   ] peak for " << Results << " results: " << peak / (1 << 20) << " MiB"
              << std::endl;
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(peak, qint64(page.size()) + (128 << 20));
#endif
}

// A URL list of 64 MiB: at most twice its size as UTF-16 and 100 bytes a line.
TEST_F(HeavyHarvestCli, LargeUrlListCostsLittleMoreThanItsText) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("urls.txt"));
    qint64 lines = 0, size = 0;
    {
        std::string bytes;
        // A port that refuses: the one visit fails at once.
        while (bytes.size() < (64u << 20))
            bytes += "127.0.0.1:1/page" + std::to_string(lines++) + "\n";
        size = qint64(bytes.size());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), size);
    }
    const Outcome o = harvest({"-q", "-n", "1", "-i", path.toStdString()});
    EXPECT_EQ(o.exitCode, 4) << o.err;
    const qint64 peak = PeakChildBytes();
    std::cout << "[ figure   ] peak for a list of " << size / (1 << 20) << " MiB, " << lines
              << " lines: " << peak / (1 << 20) << " MiB" << std::endl;
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(peak, 2 * 2 * size + 100 * lines);
#endif
}

// Twenty-five million results do not fit in 640 MiB of address space: the visit
// ends "Out of memory", reported once under the run's statement, the run goes on
// with the next address, and the program ends with status 1.
TEST_F(HeavyHarvestCli, RunningOutOfMemoryEndsTheVisitAndIsReportedOnce) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than any limit";
#endif
    const std::string page = FileLinksPage(25'000'000, false);
    LoopbackServer server;
    server.server().Get("/bomb", [&page](const httplib::Request&, httplib::Response& res) {
        res.set_content(page, "application/octet-stream");
    });
    server.start();
    const Outcome o = harvest(
        {"-f", "--format", "comma", server.url("/bomb").toStdString(), expand("{}/missing")}, {},
        [](QProcess& p) {
            p.setChildProcessModifier([] {
                const rlim_t bytes = rlim_t(640) << 20;
                struct rlimit limit {
                    bytes, bytes
                };
                setrlimit(RLIMIT_AS, &limit);
            });
        });
    EXPECT_EQ(o.status, QProcess::NormalExit);
    EXPECT_EQ(o.exitCode, 1) << o.err;
    const std::string reported = "Out of memory\nin ";
    const size_t first = o.err.find(reported);
    ASSERT_NE(first, std::string::npos) << o.err;
    EXPECT_EQ(o.err.find(reported, first + 1), std::string::npos) << "reported twice: " << o.err;
    EXPECT_NE(o.err.find("PushButton7_Click at line 120"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(expand("failed: {}/missing: ")), std::string::npos) << o.err;
}

// Each program keeps its page file in a private folder of its own: two runs at
// once in the same TEMP read only their own pages, and leave the folder empty.
TEST_F(HarvestCli, TwoProgramsInTheSameTempKeepTheirPagesApart) {
    LoopbackServer chain;
    ServeEndlessChain(chain);
    QTemporaryDir temp;
    const QStringList args{QStringLiteral("-F"), QStringLiteral("-n"), QStringLiteral("500"),
                           chain.url("/c/0")};
    QProcess first, second;
    for (QProcess* p : {&first, &second}) {
        useTemporaryFolder(*p, temp);
        p->start(HarvestPath, args);
        ASSERT_TRUE(p->waitForStarted());
    }
    // Both read as they go, so that neither waits on a full pipe.
    std::string out[2];
    QProcess* const processes[2] = {&first, &second};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((first.state() != QProcess::NotRunning || second.state() != QProcess::NotRunning) &&
           std::chrono::steady_clock::now() < deadline) {
        for (int i = 0; i < 2; ++i) {
            processes[i]->waitForReadyRead(10);
            out[i] += processes[i]->readAllStandardOutput().toStdString();
        }
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(processes[i]->state(), QProcess::NotRunning) << "orvelle-harvest did not end";
        out[i] += processes[i]->readAllStandardOutput().toStdString();
        EXPECT_EQ(processes[i]->exitCode(), 0);
        std::string err = processes[i]->readAllStandardError().toStdString();
        TakeSummary(err);
        EXPECT_EQ(err, "");
    }
    EXPECT_EQ(std::count(out[0].begin(), out[0].end(), '\n'), 1000);
    EXPECT_EQ(out[0], out[1]);
    EXPECT_EQ(QDir(temp.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

// Progress is drawn on standard error only when that is a terminal.
TEST_F(HarvestCli, ProgressOnATerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    QTemporaryDir temp;
    QProcess process;
    useTemporaryFolder(process, temp);
    process.setChildProcessModifier([&terminal] {
        const int fd = open(terminal.c_str(), O_RDWR | O_NOCTTY);
        dup2(fd, STDERR_FILENO);
        close(fd);
    });
    process.start(HarvestPath, {QStringLiteral("-F"), QString::fromStdString(expand("{}/g/1"))});
    ASSERT_TRUE(process.waitForStarted());
    std::string shown;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (shown.find(" results: ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0)
                shown.append(buffer, static_cast<size_t>(n));
        }
        process.readAllStandardOutput();
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    finish(process);
    close(master);
    EXPECT_NE(shown.find("\r\033[K"), std::string::npos) << shown;
    EXPECT_NE(shown.find(" pages, "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" results: " + base() + "/g/"), std::string::npos) << shown;
}

} // namespace
