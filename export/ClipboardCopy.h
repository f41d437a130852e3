#pragma once

#include <QString>

class ListSnapshot;
class ListView;
class Pacer;
class Shell;

// The clipboard text of a list: one line per checked item, its cells padded to
// the width of their column (the longest cell; headers do not count) and
// separated by tabs, blanks at the end of the line removed, a line end after
// every line (LF; CR LF on Windows). No header line. pacer (may be null) steps once per item and
// cell.
QString ClipboardText(const ListSnapshot& snapshot, Pacer* pacer = nullptr);

// Puts the clipboard text of list on the clipboard. True when it was placed, or
// when the list is empty (the clipboard is then left untouched); false when the
// clipboard stayed busy. Passes failures on to the caller.
bool CopyListviewToClipboard(Shell& shell, const ListView& list);
