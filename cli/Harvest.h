#pragma once

#include <QStringList>

// Exit statuses of orvelle-harvest.
namespace ExitStatus {
constexpr int Success = 0;           // the run completed (failed downloads included)
constexpr int OutputFailed = 1;      // the results could not be written, or the program failed
constexpr int UsageError = 2;        // a bad command line, or an input file that cannot be read
constexpr int BrokenLink = 3;        // --check found a broken link
constexpr int NothingDownloaded = 4; // addresses were visited, and no page could be downloaded
// 128 + the signal's number after SIGINT (130), SIGTERM (143), SIGHUP (129) or
// SIGQUIT (131): the run was stopped and the results found so far were written.
constexpr int BrokenPipe = 141; // standard output's reader went away (128 + SIGPIPE)
} // namespace ExitStatus

// The whole program: reads the command line, fills the URL list, runs the
// harvest through the same Form1 run as the window, and writes the results.
// Returns the exit status.
int RunHarvest(const QStringList& arguments);
