#include "export/ClipboardCopy.h"

#include "app/Form1.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/Pacer.h"
#include "app/Statements.h"
#include "export/ListSnapshot.h"

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
        text += QLatin1String("\r\n");
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

void Form1::PushButton3_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton3_Click"));
    enum class Outcome { Failed, Copied, Busy } outcome = Outcome::Failed;
    s.run(106, [&] {
        outcome = CopyListviewToClipboard(m_shell, ListView2) ? Outcome::Copied : Outcome::Busy;
    });
    // Only a copy that took place is announced; a failure inside the copy was
    // reported at 106 already.
    s.run(108, [&] {
        if (outcome == Outcome::Copied)
            MsgBox(m_shell, MessageId::CopiedToClipboard);
        else if (outcome == Outcome::Busy)
            MsgBox(m_shell, MessageId::ClipboardInUse);
    });
}
