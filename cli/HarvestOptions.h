#pragma once

#include "crawl/URLMon.h"

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
    bool anyQuotes = false;      // values in single quotes or none too, blanks around '='
    bool srcset = false;         // the candidates of srcset and imagesrcset, as file links
    qint64 maxPages = 0;         // page visits in all; 0 is no limit
    int stallTimeoutSeconds = 60;
    int connectTimeoutSeconds = 30;
    qint64 maxTimeMs = 0;                                 // a whole transfer at most; 0 is no limit
    qint64 maxPageBytes = DownloadSettings::MaxPageBytes; // decoded
    // Pages in flight at once (1 = one page at a time), and connections to one host
    // name and port. Checked here; the parallel engine is to read them.
    int parallel = 16;
    int perHost = 6;
    // What "Extract forever" follows, and which results are listed.
    bool sameHost = false;
    bool sameSite = false;
    QStringList include;
    QStringList exclude;
    QString match;
    int depth = -1; // -1: no limit
    bool robots = false;
    qint64 waitMs = -1; // -1: no --wait
    // Tries again after a failure that seldom lasts, and the longest wait before one.
    int retries = DownloadSettings().retries;
    int maxRetryWaitSeconds = DownloadSettings().maxRetryWaitSeconds;
    QString output; // empty for standard output
    QString visits; // a JSON line per visit goes there; empty for none
    OutputFormat format = OutputFormat::Lines;
    bool quiet = false;
    // The state file the run is recorded in and resumed from; with exportState,
    // its results are written without a run.
    QString state;
    bool exportState = false;

    bool toStandardOutput() const { return output.isEmpty(); }

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
