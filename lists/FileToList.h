#pragma once

#include <QString>
#include <functional>

class ListView;
class Shell;

// Module FileToList: URL list files, one address per line. A line ends at CR, LF
// or CR LF; a CR or CR LF at the very end adds nothing, an LF at the very end
// adds one empty item. Lines are taken exactly as read (8-bit text in the
// locale's encoding; a byte-order mark stays part of the first item). A file
// that starts with the UTF-16 byte-order mark is refused before anything is added.

// Appends every line of the file at path to list, or shows "File not found".
// A path that is not a regular file, or a file that cannot be opened or read, is
// a Failure for the caller to report; items read before it stay.
void LoadFileToListview(Shell& shell, ListView& list, const QString& path);

using UrlListItemSink = std::function<void(const QString& item)>;

// Reads the URL list file at path, handing every item to add. Throws Failure
// when the path cannot be opened or read, or is not a regular file: with
// streams, a FIFO or a character device (`<(cmd)`, /dev/stdin) is read to its
// end too, for a caller that may wait on it.
void ReadUrlListFile(const QString& path, const UrlListItemSink& add, bool streams = false);

// Reads a URL list from an open descriptor (standard input, a pipe) to its end.
void ReadUrlList(int fd, const UrlListItemSink& add);
