#include "export/ListSnapshot.h"

#include "base/Pacer.h"
#include "lists/ListView.h"

#include <algorithm>
#include <climits>

ListSnapshot::ListSnapshot(QStringList headers, QList<QStringList> columns)
    : m_headers(std::move(headers)), m_columns(std::move(columns)) {
    m_columns.resize(m_headers.size());
    const qsizetype items = m_columns.isEmpty() ? 0 : m_columns.constFirst().size();
    for (QStringList& column : m_columns)
        column.resize(items);
    m_checked.fill(true, items);
}

ListSnapshot ListSnapshot::Of(const ListView& list) {
    ListSnapshot snapshot;
    const int columns = list.ColumnCount();
    const int items = list.Count();
    snapshot.m_headers.reserve(columns);
    snapshot.m_columns.reserve(columns);
    for (int k = 1; k <= columns; ++k) {
        snapshot.m_headers.append(list.ColumnText(k));
        if (k == 1) {
            snapshot.m_columns.append(list.Texts());
            continue;
        }
        QStringList cells;
        cells.reserve(items);
        for (int j = 1; j <= items; ++j)
            cells.append(list.SubItem(j, k - 1));
        snapshot.m_columns.append(std::move(cells));
    }
    snapshot.m_checked.reserve(items);
    for (int j = 1; j <= items; ++j)
        snapshot.m_checked.append(list.Checked(j));
    return snapshot;
}

QList<int> ListSnapshot::columnWidths(bool withHeaders, Pacer* pacer) const {
    QList<int> widths;
    widths.reserve(columnCount());
    for (int k = 0; k < columnCount(); ++k) {
        qsizetype widest = withHeaders ? m_headers[k].size() : 0;
        for (const QString& text : m_columns[k]) {
            if (pacer)
                pacer->step();
            widest = std::max(widest, text.size());
        }
        widths.append(static_cast<int>(std::min<qsizetype>(widest, INT_MAX)));
    }
    return widths;
}

void AppendPaddedCell(QString& out, const QString& text, int width) {
    out += text;
    if (width > text.size())
        out.resize(out.size() + (width - text.size()), QLatin1Char(' '));
    out += QLatin1Char('\t');
}
