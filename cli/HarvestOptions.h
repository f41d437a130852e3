#pragma once

#include "crawl/LinkCheck.h"
#include "crawl/RequestIdentity.h"
#include "crawl/RunSettings.h"

#include <QString>
#include <QStringList>

// How the results are written.
enum class OutputFormat {
    Lines,  // one result per line, LF
    Spaced, // the "Save Results As Text File" format
    Comma,  // the "Save As Comma Delimited" format
    Jsonl,  // JSON Lines: each result with where it was found
    Csv,    // RFC 4180 CSV of the same
};

// What a person asked for on the command line.
struct HarvestOptions {
    QStringList addresses;       // given as arguments, visited first
    QStringList inputFiles;      // URL list files, in order; "-" is standard input
    bool files = false;          // "Retrieve file links" instead of HTML links
    bool extractForever = false; // "Extract forever"
    // Everything the run is told, read into the value it reads: how pages are
    // fetched (time-outs in milliseconds, parallel transfers, politeness, retries),
    // the scan rules (--quotes, --srcset), the scope (--same-host, --same-site,
    // --include, --exclude, --match, --depth, --robots) and --max-pages.
    RunSettings run = commandLineDefaults();
    // Who the requests say they come from and what each host is told: --user-agent,
    // --header (those without a HOST= of their own go to the hosts of the listed
    // addresses, once they are read), --cookies, --netrc, --ca-certificate,
    // --insecure. The run is given it as it stands then.
    RequestIdentity identity;
    // Where the cookies read and those the answers set are written at the end;
    // empty for nowhere.
    QString cookieJar;
    // The cookie file's and the netrc file's text, for the state file to compare
    // (as digests).
    QByteArray cookieText;
    QByteArray netrcText;
    QString output; // empty for standard output
    QString visits; // a JSON line per visit goes there; empty for none
    OutputFormat format = OutputFormat::Lines;
    // Check every http(s) link of the results; the final statuses that work.
    bool check = false;
    AcceptedStatuses accept;
    bool acceptGiven = false;
    QString acceptList; // as given
    bool quiet = false;
    // The state file the run is recorded in and resumed from; with exportState,
    // its results are written without a run.
    QString state;
    bool exportState = false;

    bool toStandardOutput() const { return output.isEmpty(); }
    // The run's settings before any option: the command line refuses to fetch
    // a listed address of another scheme.
    static RunSettings commandLineDefaults() {
        RunSettings settings;
        settings.webAddressesOnly = true;
        return settings;
    }

    static constexpr int MaxParallel = 64;
    static constexpr int MaxPerHost = 16;
    static constexpr int MaxDepth = 1000000;
};

struct ParsedCommandLine {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    HarvestOptions options;
    // The help or version text, or what is wrong with the command line.
    QString text;
};

// Reads the program's arguments (the program name first, as QCoreApplication gives them).
ParsedCommandLine ParseCommandLine(const QStringList& arguments);
