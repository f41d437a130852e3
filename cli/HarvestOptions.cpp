#include "cli/HarvestOptions.h"

#include "base/SystemIo.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Reads one value of an option into the options (a switch gets an empty value).
// Returns what is wrong with it, or an empty text when it fits.
using ReadValue = QString (*)(const QString& option, const QString& value, HarvestOptions& o);

struct OptionRow {
    const char* shortName; // "" when the option has none
    const char* longName;
    const char* valueName; // "" for a switch
    const char* help;
    ReadValue read;          // nullptr for --help and --version
    bool repeatable = false; // every value given is read, not only the last
};

constexpr qint64 NoLimit = std::numeric_limits<qint64>::max();
// libcurl takes its time-outs as a long of seconds (milliseconds for the connect
// time-out); a day is far beyond any sensible value and keeps both in range.
constexpr qint64 MaxSeconds = 24 * 60 * 60;

// A whole number from min to max into *value; otherwise, in words, what the option
// needs ("--timeout needs a whole number of seconds from 1 to 86400, not '0'.").
template <class T>
QString readWholeFrom(const QString& option, const QString& text, qint64 min, qint64 max,
                      const char* unit, T* value) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (ok && v >= min && v <= max) {
        *value = static_cast<T>(v);
        return {};
    }
    QString needs = QStringLiteral("a whole number");
    if (*unit)
        needs += QStringLiteral(" of ") + QLatin1String(unit);
    if (max == NoLimit)
        needs += QStringLiteral(" of at least ") + QString::number(min);
    else
        needs += QStringLiteral(" from ") + QString::number(min) + QStringLiteral(" to ") +
                 QString::number(max);
    return option + QStringLiteral(" needs ") + needs + QStringLiteral(", not '") + text +
           QStringLiteral("'.");
}

template <class T>
QString readWhole(const QString& option, const QString& text, qint64 max, const char* unit,
                  T* value) {
    return readWholeFrom(option, text, 1, max, unit, value);
}

// A regular expression, with Qt's word for what is wrong with it.
QString readPattern(const QString& option, const QString& value, QString* pattern) {
    const QRegularExpression expression(value);
    if (!expression.isValid())
        return option + QStringLiteral(": '") + value +
               QStringLiteral("' is not a valid expression: ") + expression.errorString() +
               QStringLiteral(" at offset ") + QString::number(expression.patternErrorOffset()) +
               QStringLiteral(".");
    *pattern = value;
    return {};
}

template <QList<QRegularExpression> CrawlScope::*Patterns>
QString addPattern(const QString& option, const QString& value, HarvestOptions& o) {
    QString pattern;
    const QString problem = readPattern(option, value, &pattern);
    if (problem.isEmpty())
        (o.run.scope.*Patterns).append(QRegularExpression(pattern));
    return problem;
}

// --same-host or --same-site: one of them at most.
template <CrawlScope::Hosts Hosts>
QString keepTo(const QString&, const QString&, HarvestOptions& o) {
    CrawlScope::Hosts& hosts = o.run.scope.hosts;
    if (hosts != CrawlScope::Hosts::Any && hosts != Hosts)
        return QStringLiteral("--same-host and --same-site exclude each other.");
    hosts = Hosts;
    return {};
}

// Whole seconds, kept as milliseconds.
QString readSecondsAsMs(const QString& option, const QString& text, qint64* ms) {
    int seconds = 0;
    const QString problem = readWhole(option, text, MaxSeconds, "seconds", &seconds);
    if (problem.isEmpty())
        *ms = seconds * qint64(1000);
    return problem;
}

QString readDepth(const QString& option, const QString& value, HarvestOptions& o) {
    bool ok = false;
    const qint64 depth = value.trimmed().toLongLong(&ok);
    if (ok && depth >= 0 && depth <= HarvestOptions::MaxDepth) {
        o.run.scope.maxDepth = static_cast<int>(depth);
        return {};
    }
    return option + QStringLiteral(" needs a whole number from 0 to ") +
           QString::number(HarvestOptions::MaxDepth) + QStringLiteral(", not '") + value +
           QStringLiteral("'.");
}

// A size in bytes, or in KiB, MiB or GiB with a K, M or G after the number.
QString readSize(const QString& option, const QString& text, qint64* bytes) {
    QString number = text.trimmed();
    qint64 unit = 1;
    if (!number.isEmpty()) {
        const int power = QStringLiteral("KMG").indexOf(number.back().toUpper()) + 1;
        if (power > 0) {
            unit = qint64(1) << (10 * power);
            number.chop(1);
        }
    }
    bool ok = false;
    const qint64 v = number.toLongLong(&ok);
    if (ok && v >= 1 && v <= DownloadSettings::MaxPageBytes / unit) {
        *bytes = v * unit;
        return {};
    }
    return option +
           QStringLiteral(" needs a size from 1 byte to 2G - 1 (bytes, or with K, M or G), not '") +
           text + QStringLiteral("'.");
}

// Seconds with a fraction, up to a day, as a count of milliseconds (rounded up,
// so that a time above 0 stays above 0); 0 only where zero is allowed.
QString readDecimalSeconds(const QString& option, const QString& text, bool zeroAllowed,
                           qint64* ms) {
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (ok && (zeroAllowed ? seconds >= 0 : seconds > 0) && seconds <= MaxSeconds) {
        *ms = static_cast<qint64>(std::ceil(seconds * 1000));
        return {};
    }
    return option + QStringLiteral(" needs a number of seconds ") +
           (zeroAllowed ? QStringLiteral("from 0 to ") : QStringLiteral("above 0 and up to ")) +
           QString::number(MaxSeconds) + QStringLiteral(", not '") + text + QStringLiteral("'.");
}

// A switch.
template <bool HarvestOptions::*Switch>
QString turnOn(const QString&, const QString&, HarvestOptions& o) {
    o.*Switch = true;
    return {};
}

QString readOutput(const QString&, const QString& value, HarvestOptions& o) {
    if (value.isEmpty())
        return QStringLiteral("--output needs a file name.");
    // "-" is standard output, as for the input.
    o.output = value == QStringLiteral("-") ? QString() : value;
    return {};
}

QString readFormat(const QString&, const QString& value, HarvestOptions& o) {
    if (value == QStringLiteral("lines"))
        o.format = OutputFormat::Lines;
    else if (value == QStringLiteral("spaced"))
        o.format = OutputFormat::Spaced;
    else if (value == QStringLiteral("comma"))
        o.format = OutputFormat::Comma;
    else if (value == QStringLiteral("jsonl"))
        o.format = OutputFormat::Jsonl;
    else if (value == QStringLiteral("csv"))
        o.format = OutputFormat::Csv;
    else
        return QStringLiteral("unknown format '") + value +
               QStringLiteral("' (lines, spaced, comma, jsonl or csv).");
    return {};
}

QString readQuotes(const QString&, const QString& value, HarvestOptions& o) {
    if (value == QStringLiteral("double"))
        o.run.scan.anyQuotes = false;
    else if (value == QStringLiteral("any"))
        o.run.scan.anyQuotes = true;
    else
        return QStringLiteral("--quotes needs double or any, not '") + value + QStringLiteral("'.");
    return {};
}

QString readSitemaps(const QString&, const QString& value, HarvestOptions& o) {
    for (const SitemapMode mode : {SitemapMode::Add, SitemapMode::Only, SitemapMode::Compare})
        if (value == SitemapModeName(mode)) {
            o.run.sitemaps = mode;
            return {};
        }
    return QStringLiteral("--sitemaps needs add, only or compare, not '") + value +
           QStringLiteral("'.");
}

// The whole of a file named by an option; what is wrong, or an empty text.
QString readFile(const QString& option, const QString& path, QByteArray* bytes) {
    if (path.isEmpty())
        return option + QStringLiteral(" needs a file name.");
    QString error;
    if (!ReadWholeFile(path, bytes, &error))
        return option + QStringLiteral(": ") + error;
    return {};
}

// A header line, or "@FILE" for one read from a file (a secret kept out of the
// command line). What was given is never repeated: it may be a secret.
QString readHeader(const QString& option, const QString& value, HarvestOptions& o) {
    QByteArray text = value.toUtf8();
    if (value.startsWith(u'@')) {
        const QString problem = readFile(option, value.mid(1), &text);
        if (!problem.isEmpty())
            return problem;
        while (text.endsWith('\n') || text.endsWith('\r'))
            text.chop(1);
    }
    RequestIdentity::Header header;
    if (!ParseHeaderOption(text, &header))
        return option +
               QStringLiteral(" needs 'Name: value' or 'HOST=Name: value': a name of letters, "
                              "digits and !#$%&'*+-.^_`|~, a value on one line (what was given "
                              "is not shown here).");
    o.identity.headers.push_back(header);
    return {};
}

QString readUserAgent(const QString& option, const QString& value, HarvestOptions& o) {
    if (value.trimmed().isEmpty() || value.contains(u'\n') || value.contains(u'\r'))
        return option + QStringLiteral(" needs a text on one line.");
    o.identity.userAgent = value.toUtf8();
    return {};
}

QString readCookies(const QString& option, const QString& value, HarvestOptions& o) {
    QByteArray text;
    const QString problem = readFile(option, value, &text);
    if (!problem.isEmpty())
        return problem;
    int badLine = 0;
    std::vector<Cookie> cookies;
    if (!ParseCookieFile(text, QDateTime::currentSecsSinceEpoch(), &cookies, &badLine))
        return option + QStringLiteral(": ") + value + QStringLiteral(": line ") +
               QString::number(badLine) +
               QStringLiteral(" is not a cookie of a Netscape cookie file (seven fields "
                              "separated by tabs).");
    o.identity.cookies = std::move(cookies);
    o.cookieText = text;
    return {};
}

QString readNetrc(const QString& option, const QString& path, HarvestOptions& o) {
    const QString problem = readFile(option, path, &o.netrcText);
    if (!problem.isEmpty())
        return problem;
    o.identity.netrcFile = QFile::encodeName(path);
    o.identity.netrc = ParseNetrc(o.netrcText);
    return {};
}

// The options, in the order --help lists them and their values are read.
const OptionRow Options[] = {
    {"i", "input", "FILE",
     "Read addresses from a URL list file, one per line (\"-\" reads standard input). May be "
     "given several times; addresses given as arguments come first.",
     [](const QString&, const QString& value, HarvestOptions& o) {
         o.inputFiles.append(value);
         return QString();
     },
     true},
    {"f", "files", "", "Retrieve file links (src) instead of HTML links (href).",
     turnOn<&HarvestOptions::files>},
    {"F", "forever", "", "Extract forever: follow every HTML link found, newest first.",
     turnOn<&HarvestOptions::extractForever>},
    {"", "quotes", "WHICH",
     "double: values in double quotes only (href=\"...\"), the default. any: also in single "
     "quotes and unquoted, with blanks allowed around the equals sign.",
     readQuotes},
    {"", "srcset", "", "With --files, list the image candidates of srcset and imagesrcset too.",
     [](const QString&, const QString&, HarvestOptions& o) {
         o.run.scan.srcset = true;
         return QString();
     }},
    {"n", "max-pages", "N", "Stop after N page visits in all (default: no limit).",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readWhole(option, value, NoLimit, "", &o.run.maxPages);
     }},
    {"", "same-host", "",
     "Follow only links to the host the listed address was delivered from (any scheme and "
     "port).",
     keepTo<CrawlScope::Hosts::SameHost>},
    {"", "same-site", "",
     "Follow only links within the registrable domain of that host (by the public suffix list; "
     "an IP address or a single-label host is its own site).",
     keepTo<CrawlScope::Hosts::SameSite>},
    {"", "include", "REGEX",
     "Follow only links that match REGEX (unanchored, case-sensitive); may be given several "
     "times: a link is followed when it matches any.",
     addPattern<&CrawlScope::include>, true},
    {"", "exclude", "REGEX", "Follow no link that matches REGEX; may be given several times.",
     addPattern<&CrawlScope::exclude>, true},
    {"", "match", "REGEX",
     "List only the results that match REGEX (the others are still followed).",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         QString pattern;
         const QString problem = readPattern(option, value, &pattern);
         o.run.scope.match = QRegularExpression(pattern);
         return problem;
     }},
    {"", "depth", "N",
     "With --forever, follow links at most N steps from the listed address (0: the listed page "
     "only).",
     readDepth},
    {"", "robots", "",
     "Visit only the pages robots.txt allows the user-agent Orvelle, the listed addresses "
     "too.",
     [](const QString&, const QString&, HarvestOptions& o) {
         o.run.scope.robots = true;
         return QString();
     }},
    {"", "sitemaps", "MODE",
     "Before a listed address is visited, read its site's sitemaps (robots.txt Sitemap lines "
     "and /sitemap.xml; indexes followed, gzip decoded). add: list their pages within the scope "
     "as results of kind sitemap and visit them after the listed address (with --forever, "
     "following their links); only: the same, following no link; compare: visit nothing more, "
     "and list at the end of each crawl the sitemap's pages no visited page links to "
     "(sitemap-only) and the visited pages it does not list (unlisted).",
     readSitemaps},
    {"", "wait", "S",
     "Wait at least S seconds (a decimal) between two requests to the same host, one at a time; "
     "a 429 or 503 answer with Retry-After is then waited out and asked once more, even with "
     "--retries 0.",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readDecimalSeconds(option, value, /*zeroAllowed=*/true, &o.run.download.waitMs);
     }},
    {"", "timeout", "S",
     "Abandon a transfer that stalls (under 100 bytes/s) for S seconds (default 60).",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readSecondsAsMs(option, value, &o.run.download.stallMs);
     }},
    {"", "connect-timeout", "S", "Give up connecting after S seconds (default 30).",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readSecondsAsMs(option, value, &o.run.download.connectTimeoutMs);
     }},
    {"", "max-time", "S",
     "Abandon a transfer that has not ended S seconds after it started; S may have a fraction "
     "(default: no limit).",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readDecimalSeconds(option, value, /*zeroAllowed=*/false, &o.run.download.maxTimeMs);
     }},
    {"", "max-page-size", "SIZE",
     "Give up a page that decodes to more than SIZE bytes; K, M or G after the number count "
     "KiB, MiB or GiB (default 2147483647, the largest). A compressed page that expands more "
     "than a hundredfold past 64 MiB is given up whatever the size.",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readSize(option, value, &o.run.download.maxPageBytes);
     }},
    {"", "parallel", "N",
     "Fetch pages over up to N connections at once, from 1 to 64 (default 16; 1 = one page at a "
     "time). With --max-pages, at most N pages are asked for ahead of the visits.",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readWhole(option, value, HarvestOptions::MaxParallel, "", &o.run.download.parallel);
     }},
    {"", "per-host", "N",
     "Open at most N connections to one host name and port, from 1 to 16 (default 6). Over "
     "HTTP/1.x, and to a server that closes every connection, a host sees at most N requests at "
     "once, one on each connection; over HTTP/2 (https only) the requests are streams, up to 64 "
     "on each connection (fewer when the server allows fewer). With --wait, one request at a "
     "time whatever the protocol.",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readWhole(option, value, HarvestOptions::MaxPerHost, "", &o.run.download.perHost);
     }},
    {"", "retries", "N",
     "Ask again, up to N times a page (0 to 10, default 2), after a connection refused or reset "
     "before any answer, or an HTTP 429, 502, 503 or 504: after 0.5 s, 1 s, 2 s ... (a little "
     "more at random), or as long as a Retry-After asks. A time-out or a 500 is not retried.",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readWholeFrom(option, value, 0, DownloadSettings::MaxRetries, "",
                              &o.run.download.retries);
     }},
    {"", "max-retry-wait", "S",
     "Wait at most S seconds before asking again (0 to 3600, default 60); a server whose "
     "Retry-After asks for longer has failed the page (\"server asked to wait N s\").",
     [](const QString& option, const QString& value, HarvestOptions& o) {
         return readWholeFrom(option, value, 0, DownloadSettings::MaxRetryWaitSeconds, "seconds",
                              &o.run.download.maxRetryWaitSeconds);
     }},
    {"", "user-agent", "TEXT",
     "Send TEXT as the User-Agent of every request (default: Orvelle/" ORVELLE_VERSION
     "). robots.txt is read for Orvelle all the same.",
     readUserAgent},
    {"", "header", "HEADER",
     "Send the header 'Name: value' to the hosts of the listed addresses and their subdomains; "
     "'HOST=Name: value' sends it to HOST and its subdomains alone. @FILE reads the header from "
     "FILE, to keep a secret off the command line. May be given several times. Header values "
     "are never shown: they appear as ***.",
     readHeader, true},
    {"", "cookies", "FILE",
     "Send the cookies of the Netscape cookie file FILE (as curl and wget write it), each to "
     "the hosts and paths it is for. Cookies that answers set are not sent during the run.",
     readCookies},
    {"", "cookie-jar", "FILE",
     "At the end, write the cookies read and those the answers set to FILE, as a Netscape "
     "cookie file sorted by domain, path and name (readable by its owner only).",
     [](const QString& option, const QString& value, HarvestOptions& o) -> QString {
         if (value.isEmpty())
             return option + QStringLiteral(" needs a file name.");
         o.cookieJar = value;
         return QString();
     }},
    {"", "netrc-file", "FILE",
     "Log in with the credentials of the netrc file FILE, each only to its machine (its "
     "\"default\" entry is never used). Passwords are never shown.",
     readNetrc},
    {"", "netrc", "", "As --netrc-file ~/.netrc.",
     [](const QString& option, const QString&, HarvestOptions& o) {
         if (!o.identity.netrcFile.isEmpty())
             return QString();
         return readNetrc(option, QDir::homePath() + QStringLiteral("/.netrc"), o);
     }},
    {"", "ca-certificate", "FILE",
     "Trust the certificate authorities of the PEM file FILE besides the system's (or those of "
     "CURL_CA_BUNDLE or SSL_CERT_FILE, which take the place of the system's).",
     [](const QString& option, const QString& value, HarvestOptions& o) -> QString {
         QString error;
         if (value.isEmpty())
             return option + QStringLiteral(" needs a file name.");
         if (!TrustedCertificates(value, &o.identity.trustedCertificates, &error))
             return option + QStringLiteral(": ") + error;
         return QString();
     }},
    {"k", "insecure", "",
     "Check no certificate: any server is taken for what it claims (said once on standard "
     "error).",
     [](const QString&, const QString&, HarvestOptions& o) {
         o.identity.insecure = true;
         return QString();
     }},
    {"o", "output", "FILE",
     "Write the results to FILE (default: standard output). An existing file is replaced only "
     "once the new one is complete.",
     readOutput},
    {"", "visits", "FILE",
     "Write one JSON line per page visit to FILE, in the order of the run: url, final, status, "
     "type, bytes, depth, error.",
     [](const QString&, const QString& value, HarvestOptions& o) {
         if (value.isEmpty())
             return QStringLiteral("--visits needs a file name.");
         o.visits = value;
         return QString();
     }},
    {"", "format", "FORMAT",
     "lines (one result per line), spaced (as \"Save Results As Text File\"), comma (as "
     "\"Save As Comma Delimited\"), jsonl (JSON Lines: url, kind, page, listed, depth) or csv "
     "(the same as RFC 4180 CSV). Default: lines.",
     readFormat},
    {"", "check", "",
     "Check every http or https link of the results (HEAD, or GET up to the headers where HEAD "
     "is refused), once each, with the same limits as the visits; a link the run visits is not "
     "asked for again. jsonl and csv records gain status, final, redirects, error and broken; "
     "lines prints only the broken links, as STATUS<TAB>LINK<TAB>PAGE. Exit status 3 when a "
     "link is broken.",
     turnOn<&HarvestOptions::check>},
    {"", "accept", "LIST",
     "With --check, the final statuses that count as working: codes and ranges A..B within "
     "100-599, comma-separated, such as 200..299,403 (default: 200..399). A link with no "
     "answer is always broken.",
     [](const QString& option, const QString& value, HarvestOptions& o) -> QString {
         QString problem;
         if (!o.accept.parse(value, &problem))
             return option + QStringLiteral(": ") + problem + QLatin1Char('.');
         o.acceptGiven = true;
         o.acceptList = value;
         return QString();
     }},
    {"", "state", "FILE",
     "Record the run in the SQLite database FILE, made when it does not exist; the same "
     "command with the same FILE after a crash or a signal resumes the run and writes the "
     "results of the whole run, as an uninterrupted one would have. The options that change "
     "the results and the addresses must be the same; a finished run is written again "
     "without fetching.",
     [](const QString& option, const QString& value, HarvestOptions& o) -> QString {
         if (value.isEmpty())
             return option + QStringLiteral(" needs a file name.");
         o.state = value;
         return QString();
     }},
    {"", "export", "",
     "With --state and no addresses: write the results recorded in the state file, in the "
     "chosen --format, without fetching.",
     turnOn<&HarvestOptions::exportState>},
    {"q", "quiet", "", "No progress and no per-address messages on standard error.",
     turnOn<&HarvestOptions::quiet>},
    {"h", "help", "", "Show this help and exit.", nullptr},
    {"V", "version", "", "Show the version and exit.", nullptr},
};

const char* const ExitStatusHelp =
    "\nExit status:\n"
    "  0      the run completed (pages that could not be downloaded included)\n"
    "  1      the results could not be written, or the program failed\n"
    "  2      a bad command line, a URL list that cannot be read, or a state\n"
    "         file that cannot be used (not one, newer, damaged, of other\n"
    "         options, or in use)\n"
    "  3      --check found a broken link\n"
    "  4      addresses were visited and no page could be downloaded\n"
    "  128+N  stopped by signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP,\n"
    "         131 SIGQUIT): the results found so far were written\n"
    "  141    standard output's reader went away\n";

QCommandLineOption optionOf(const OptionRow& row) {
    QStringList names;
    if (*row.shortName)
        names.append(QLatin1String(row.shortName));
    names.append(QLatin1String(row.longName));
    return QCommandLineOption(names, QLatin1String(row.help), QLatin1String(row.valueName));
}

void declareOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Downloads each web page listed, finds every href=\"...\" (or src=\"...\") value,\n"
        "resolves it to an absolute address and writes the list of results."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const OptionRow& row : Options)
        parser.addOption(optionOf(row));
    parser.addPositionalArgument(QStringLiteral("ADDRESS"),
                                 QStringLiteral("Web addresses to visit."),
                                 QStringLiteral("[ADDRESS...]"));
}

ParsedCommandLine answer(ParsedCommandLine::Action action, const QString& text) {
    ParsedCommandLine result;
    result.action = action;
    result.text = text;
    return result;
}

// Reads the value (or values) of every option given; what is wrong with the
// first that does not fit, or an empty text.
QString readOptions(const QCommandLineParser& parser, HarvestOptions& o) {
    for (const OptionRow& row : Options) {
        const QString name = QLatin1String(row.longName);
        if (!row.read || !parser.isSet(name))
            continue;
        QStringList values{QString()};
        if (row.repeatable)
            values = parser.values(name);
        else if (*row.valueName)
            values = QStringList{parser.value(name)};
        for (const QString& value : values) {
            const QString problem = row.read(QStringLiteral("--") + name, value, o);
            if (!problem.isEmpty())
                return problem;
        }
    }
    return {};
}

// What the parser found wrong, in the words of the program's other messages.
QString parseError(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return parser.errorText();
    const QString& name = unknown.first();
    return QStringLiteral("unknown option '") +
           (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name +
           QStringLiteral("'.");
}

// What is wrong with options that each fit on their own; empty when nothing.
QString problemWith(const HarvestOptions& o) {
    // Image candidates are file links: without --files they would leave no trace.
    if (o.run.scan.srcset && !o.files)
        return QStringLiteral("--srcset lists file links: give --files too.");
    if (o.exportState && o.state.isEmpty())
        return QStringLiteral("--export needs --state.");
    if (o.exportState && (!o.addresses.isEmpty() || !o.inputFiles.isEmpty()))
        return QStringLiteral("--export writes what the state file holds: give no addresses.");
    if (o.acceptGiven && !o.check)
        return QStringLiteral("--accept needs --check.");
    if (o.check && (o.format == OutputFormat::Spaced || o.format == OutputFormat::Comma))
        return QStringLiteral("--check writes lines, jsonl or csv, not --format ") +
               (o.format == OutputFormat::Spaced ? QStringLiteral("spaced.")
                                                 : QStringLiteral("comma."));
    // What only a crawl that follows links can use is refused without one, rather
    // than silently doing nothing.
    const CrawlScope& scope = o.run.scope;
    const std::pair<bool, const char*> crawlOnly[] = {
        {scope.maxDepth >= 0, "--depth"},
        {scope.hosts == CrawlScope::Hosts::SameHost, "--same-host"},
        {scope.hosts == CrawlScope::Hosts::SameSite, "--same-site"},
        {!scope.include.isEmpty(), "--include"},
        {!scope.exclude.isEmpty(), "--exclude"},
    };
    // The sitemap's pages are visited (or compared) within the scope too.
    const bool scoped = o.extractForever || o.run.sitemaps != SitemapMode::Off;
    for (const auto& [given, name] : crawlOnly)
        if (given && !scoped)
            return QLatin1String(name) + QStringLiteral(" needs --forever.");
    return {};
}

} // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    declareOptions(parser);
    if (!parser.parse(arguments))
        return answer(ParsedCommandLine::Action::UsageError, parseError(parser));
    if (parser.isSet(QStringLiteral("help"))) {
        // The usage line names the program as it is installed, not the path it was
        // started by.
        const QString help = parser.helpText();
        return answer(ParsedCommandLine::Action::Help,
                      QStringLiteral("Usage: orvelle-harvest [OPTIONS] [ADDRESS...]") +
                          help.mid(help.indexOf(QLatin1Char('\n'))) +
                          QLatin1String(ExitStatusHelp));
    }
    if (parser.isSet(QStringLiteral("version")))
        return answer(ParsedCommandLine::Action::Version,
                      QStringLiteral("orvelle-harvest " ORVELLE_VERSION "\n"));

    ParsedCommandLine result;
    result.options.addresses = parser.positionalArguments();
    QString problem = readOptions(parser, result.options);
    if (problem.isEmpty())
        problem = problemWith(result.options);
    if (!problem.isEmpty()) {
        result.action = ParsedCommandLine::Action::UsageError;
        result.text = problem;
    }
    return result;
}
