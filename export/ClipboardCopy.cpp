#include "export/ClipboardCopy.h"

#include "base/Main.h"
#include "base/Messages.h"
#include "base/Pacer.h"
#include "export/ListSnapshot.h"
#include "lists/ListView.h"

namespace {
// What a pasted line ends with where the text lands: CR LF on Windows, LF on
// Linux, where a CR shows up as ^M in editors and terminals. The saved files keep
// CR LF whatever the system.
#ifdef Q_OS_WIN
const QLatin1String ClipboardLineEnd("\r\n");
#else
const QLatin1String ClipboardLineEnd("\n");
#endif
} // namespace

QString ClipboardText(const ListSnapshot& snapshot, Pacer* pacer) {
    const QList<int> widths = snapshot.columnWidths(false, pacer);
    QString text;
    for (int i = 0; i < snapshot.itemCount(); ++i) {
        if (pacer)
            pacer->step();
        if (!snapshot.checked(i))
            continue;
        for (int k = 0; k < snapshot.columnCount(); ++k) {
            if (pacer)
                pacer->step();
            AppendPaddedCell(text, snapshot.cell(i, k), widths[k]);
        }
        // The tab after the last cell, then the blanks before it; with no
        // columns there is no tab, and the line end before must stay.
        if (snapshot.columnCount() > 0)
            text.chop(1);
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == QLatin1Char(' '))
            --end;
        text.truncate(end);
        text += ClipboardLineEnd;
    }
    return text;
}

bool CopyListviewToClipboard(Shell& shell, const ListView& list) {
    if (list.Count() <= 0)
        return true;
    const ListSnapshot snapshot = ListSnapshot::Of(list);
    Pacer pacer(shell, YieldPlace::Copy);
    const QString text = ClipboardText(snapshot, &pacer);
    ClearClipboard(shell);
    return SetClipboardText(shell, text, 0);
}
