#include "export/SaveComma.h"

#include "base/Messages.h"
#include "base/Pacer.h"
#include "base/Statements.h"
#include "export/ChunkedText.h"
#include "export/ListSnapshot.h"
#include "export/ResultFile.h"

void AppendCommaHeader(QString& out, const ListSnapshot& snapshot) {
    if (snapshot.columnCount() <= 1)
        return;
    for (int k = 0; k < snapshot.columnCount(); ++k) {
        out += snapshot.header(k);
        out += QLatin1Char(',');
    }
    out += QLatin1String("\r\n");
}

void AppendCommaLine(QString& out, const ListSnapshot& snapshot, int item) {
    const int columns = snapshot.columnCount();
    for (int k = 0; k < columns; ++k) {
        out += snapshot.cell(item, k);
        if (k + 1 != columns)
            out += QLatin1Char(',');
    }
    if (columns <= 1 && item + 1 != snapshot.itemCount())
        out += QLatin1Char(',');
    out += QLatin1String("\r\n");
}

QByteArray CommaDelimitedFileBytes(const ListSnapshot& snapshot) {
    QByteArray bytes;
    ChunkedText text([&](const QByteArray& piece) { bytes += piece; });
    AppendCommaHeader(text.text(), snapshot);
    for (int j = 0; j < snapshot.itemCount(); ++j) {
        AppendCommaLine(text.text(), snapshot, j);
        text.lineDone();
    }
    text.flush();
    return bytes;
}

void SaveListviewAsCommaDelimToFile(Shell& shell, const ListView& list, const QString& path) {
    Statements s(shell, QualifiedName("SaveComma", "SaveListviewAsCommaDelimToFile"));
    ListSnapshot snapshot;
    if (!s.run(100, [&] { snapshot = ListSnapshot::Of(list); }))
        return;
    bool exists = false;
    int answer = 0;
    s.run(100, [&] { exists = FileExists(path); });
    if (exists)
        s.run(102, [&] { answer = MsgBox(shell, MessageId::OverwriteQuestion, path); });
    else
        answer = MsgAnswer::Yes;  // 104
    if (answer != MsgAnswer::Yes) // 106
        return;

    // A file that cannot be created or written is reported once, under the
    // statement that met the failure, and the save ends: nothing is
    // half-written and an existing file stays as it was.
    ResultFile file;
    ChunkedText text([&](const QByteArray& piece) { file.write(piece); });
    if (!s.run(120, [&] { file.create(path); }))
        return;
    if (snapshot.columnCount() > 1 && !s.run(132, [&] {
            AppendCommaHeader(text.text(), snapshot);
            text.lineDone();
        }))
        return;
    Pacer pacer(shell, YieldPlace::Export);
    for (int j = 0; j < snapshot.itemCount(); ++j) {
        pacer.step(); // 136
        if (!s.run(172, [&] {
                AppendCommaLine(text.text(), snapshot, j);
                text.lineDone();
            }))
            return;
    }
    s.run(182, [&] {
        text.flush();
        file.commit();
    });
}
