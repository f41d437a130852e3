#pragma once

#include <QByteArray>
#include <QString>

class ListSnapshot;
class ListView;
class Shell;

// Module SaveComma: the comma-delimited file. With more than one column, a header
// line of every header followed by a comma; then one line per item, checked or
// not, its cells joined by commas. With one column every line but the last ends
// in a comma, so that the file reads as one comma-separated sequence. Nothing is
// quoted; every line ends with CR LF.

// Asks before replacing an existing file, then writes list to path (complete or
// not at all). Reports a failure in the "Application Error" dialog, once, and ends.
void SaveListviewAsCommaDelimToFile(Shell& shell, const ListView& list, const QString& path);

// The header line (CR LF included) when the snapshot has more than one column.
void AppendCommaHeader(QString& out, const ListSnapshot& snapshot);
// The line of item (from 0), CR LF included.
void AppendCommaLine(QString& out, const ListSnapshot& snapshot, int item);

// The bytes of the whole file, as the save writes them.
QByteArray CommaDelimitedFileBytes(const ListSnapshot& snapshot);
