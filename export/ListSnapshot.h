#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class ListView;
class Pacer;

// The texts of a list as they stood at one moment: its column headers, the
// cells of every item and their check marks. An export or a copy yields to the
// event loop while it works, and "Clear Results" or a run can change the list
// meanwhile; working on a snapshot keeps the output whole and consistent. The
// texts are shared with the list (QString is implicitly shared), so taking one
// is cheap even for a million results.
class ListSnapshot {
public:
    ListSnapshot() = default;
    // headers: one per column; columns[k][j] is cell (item j + 1, column k + 1).
    // Every item is checked.
    ListSnapshot(QStringList headers, QList<QStringList> columns);

    static ListSnapshot Of(const ListView& list);

    int columnCount() const { return static_cast<int>(m_headers.size()); }
    int itemCount() const { return static_cast<int>(m_checked.size()); }
    // Positions from 0.
    const QString& header(int column) const { return m_headers[column]; }
    const QString& cell(int item, int column) const { return m_columns[column][item]; }
    bool checked(int item) const { return m_checked[item]; }

    // The width of every column in 16-bit characters: the longest of its cells,
    // of every item whether checked or not, and of its header when withHeaders.
    // pacer (may be null) steps once per cell.
    QList<int> columnWidths(bool withHeaders, Pacer* pacer) const;

private:
    QStringList m_headers;
    QList<QStringList> m_columns;
    QList<bool> m_checked;
};

// Appends text, the blanks that fill it up to width (none when it is longer),
// and a tab.
void AppendPaddedCell(QString& out, const QString& text, int width);
