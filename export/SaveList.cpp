#include "export/SaveList.h"

#include "base/Messages.h"
#include "base/Pacer.h"
#include "base/Statements.h"
#include "export/ChunkedText.h"
#include "export/ListSnapshot.h"
#include "export/ResultFile.h"

void AppendSpacedLine(QString& out, const ListSnapshot& snapshot, int item,
                      const QList<int>& widths, Pacer* pacer) {
    for (int k = 0; k < snapshot.columnCount(); ++k) {
        if (pacer)
            pacer->step();
        AppendPaddedCell(out, item < 0 ? snapshot.header(k) : snapshot.cell(item, k), widths[k]);
    }
    out += QLatin1String("\r\n");
}

QByteArray SpacedFileBytes(const ListSnapshot& snapshot) {
    QByteArray bytes;
    ChunkedText text([&](const QByteArray& piece) { bytes += piece; });
    const QList<int> widths = snapshot.columnWidths(true, nullptr);
    AppendSpacedLine(text.text(), snapshot, -1, widths);
    for (int j = 0; j < snapshot.itemCount(); ++j) {
        if (!snapshot.checked(j))
            continue;
        AppendSpacedLine(text.text(), snapshot, j, widths);
        text.lineDone();
    }
    text.flush();
    return bytes;
}

void SaveListviewProperlySpaced(Shell& shell, const ListView& list, const QString& path) {
    Statements s(shell, QualifiedName("SaveList", "SaveListviewProperlySpaced"));
    ListSnapshot snapshot;
    QList<int> widths;
    if (!s.run(110, [&] { snapshot = ListSnapshot::Of(list); }))
        return;
    Pacer pacer(shell, YieldPlace::Export);
    if (!s.run(112, [&] { widths = snapshot.columnWidths(true, &pacer); }))
        return;

    // A file that cannot be created or written is reported once, under the
    // statement that met the failure, and the save ends: nothing is
    // half-written and an existing file stays as it was.
    ResultFile file;
    ChunkedText text([&](const QByteArray& piece) { file.write(piece); });
    if (!s.run(156, [&] { file.create(path); }))
        return;
    if (!s.run(170, [&] {
            AppendSpacedLine(text.text(), snapshot, -1, widths, &pacer);
            text.lineDone();
        }))
        return;
    for (int j = 0; j < snapshot.itemCount(); ++j) {
        pacer.step(); // 184
        if (!snapshot.checked(j))
            continue;
        if (!s.run(222, [&] {
                AppendSpacedLine(text.text(), snapshot, j, widths, &pacer);
                text.lineDone();
            }))
            return;
    }
    s.run(232, [&] {
        text.flush();
        file.commit();
    });
}
