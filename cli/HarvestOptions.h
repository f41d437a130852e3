#pragma once

#include <QString>
#include <QStringList>

// How the results are written.
enum class OutputFormat {
    Lines,  // one result per line, LF
    Spaced, // the "Save Results As Text File" format
    Comma,  // the "Save As Comma Delimited" format
};

// What a person asked for on the command line.
struct HarvestOptions {
    QStringList addresses;       // given as arguments, visited first
    QStringList inputFiles;      // URL list files, in order; "-" is standard input
    bool files = false;          // "Retrieve file links" instead of HTML links
    bool extractForever = false; // "Extract forever"
    qint64 maxPages = 0;         // page visits in all; 0 is no limit
    int stallTimeoutSeconds = 60;
    int connectTimeoutSeconds = 30;
    QString output; // empty for standard output
    OutputFormat format = OutputFormat::Lines;
    bool quiet = false;

    bool toStandardOutput() const { return output.isEmpty(); }
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
