#pragma once

#include <QString>
#include <QStringList>

// What the window's command line asks for: orvelle [--help | --version] [ADDRESS...],
// beside the arguments Qt takes for itself (-platform NAME, -style NAME, ...),
// which are left to Qt. Read before any window system is reached, so that --help,
// --version and a bad command line need no display.
struct WindowCommandLine {
    enum class Action {
        Open,    // open the window, with addresses appended to the URL list
        Help,    // print text on standard output, exit 0
        Version, // print text on standard output, exit 0
        Error,   // print text on standard error, exit 2
    };
    Action action = Action::Open;
    QStringList addresses;
    QString text;

    static constexpr int UsageError = 2;
};

// arguments as the program was given them, the program's name first.
WindowCommandLine ReadWindowCommandLine(const QStringList& arguments);
