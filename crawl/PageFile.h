#pragma once

#include <QByteArray>
#include <QString>

// The page file, where a downloaded page too large to be kept in memory waits
// to be read. Each running program
// keeps its page files in a private folder of its own (mode 0700, a unique name)
// inside TEMP, else TMPDIR, else /tmp, so that two programs running at once never
// read each other's pages. The folder goes when the program ends.

// The path of page file number n: <private folder>/HTML<n>.tmp. Makes the private
// folder first when there is none (or it has gone). Throws Failure when the folder
// cannot be made.
QString PageFilePath(int fileNumber);

// Creates the page file afresh, mode 0600, and returns it open for reading and
// writing, already unlinked: the page is read through the descriptor, and nothing
// of it stays on disk however the program ends. Whatever stood at the path before
// (an old page, a symbolic link) is removed, never followed. Throws Failure.
int CreatePageFile(const QString& path);

// Maps the first size bytes of the open page file fd read-only, to be read from
// start to end, and returns where they begin. The map does not depend on fd
// staying open. Throws Failure naming path.
const char* MapPageFile(int fd, qint64 size, const QString& path);
// Lets the pages of a map that hold bytes from to upTo leave memory: they are read
// back from the file if they are needed again. Returns how far that went, upTo
// rounded down to a whole page.
qint64 ReleasePageFileMap(const char* map, qint64 from, qint64 upTo) noexcept;
// Ends a map MapPageFile made.
void UnmapPageFile(const char* map, qint64 size) noexcept;

// Removes the private folder with the page files in it. The next PageFilePath makes a
// new one, under TEMP/TMPDIR as they read then. Never fails.
void RemovePageFolder() noexcept;

// The same from a signal handler, on the way out: only async-signal-safe calls
// (unlink, rmdir) on paths laid down when the folder was made.
void RemovePageFolderFromSignalHandler() noexcept;

// The private folder now in use; empty when there is none.
QString PageFolder();
