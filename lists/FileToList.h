#pragma once

#include <QString>
#include <functional>

class ListView;
class Shell;

// Module FileToList: URL list files, one address per line. A line ends at CR, LF
// or CR LF; a CR or CR LF at the very end adds nothing, an LF at the very end
// adds one empty item. Lines are taken exactly as read (8-bit text in the
// locale's encoding; a byte-order mark stays part of the first item).

// Appends every line of the file at path to list, or shows "File not found".
// A path that is not a regular file, or a file that cannot be opened or read or
// is refused (below), is a Failure for the caller to report; nothing is added
// then.
void LoadFileToListview(Shell& shell, ListView& list, const QString& path);

using UrlListItemSink = std::function<void(const QString& item)>;

// Reads the URL list file at path, handing every item to add. Throws Failure
// when the path is not a regular file (a FIFO or a character device is read too
// when streamsToo is true: the command line's "-i <(cmd)" and /dev/stdin) or
// cannot be opened or read.
void ReadUrlListFile(const QString& path, const UrlListItemSink& add, bool streamsToo = false);

// Reads a URL list from an open descriptor (standard input, a pipe) to its end.
// A text that starts with the byte-order mark of UTF-16, or a line longer than
// 1 MiB, is refused with a Failure that says so.
void ReadUrlList(int fd, const UrlListItemSink& add);
