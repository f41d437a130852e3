#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class ListSnapshot;
class ListView;
class Pacer;
class Shell;

// Module SaveList: the spaced text file. A header line, then one line per checked
// item; every cell is padded with blanks to the width of its column (the longest
// of its header and cells, in 16-bit characters) and closed by a tab; every line
// ends with CR LF.

// Writes list to path (replacing any file there, complete or not at all). Reports
// a failure in the "Application Error" dialog, once, and ends.
void SaveListviewProperlySpaced(Shell& shell, const ListView& list, const QString& path);

// One line of the file, CR LF included: the headers when item is -1, else the
// cells of item (from 0). pacer (may be null) steps once per cell.
void AppendSpacedLine(QString& out, const ListSnapshot& snapshot, int item,
                      const QList<int>& widths, Pacer* pacer = nullptr);

// The bytes of the whole file, as the save writes them.
QByteArray SpacedFileBytes(const ListSnapshot& snapshot);
