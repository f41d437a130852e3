#include "window/qt/ShownRows.h"

#include "lists/ListView.h"

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <algorithm>

ShownRows::ShownRows(ListView& items, QAbstractItemView& view)
    : QAbstractListModel(&view), m_items(items), m_view(view), m_shown(items.Count()) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ShownRows::showNewRows);
    // The list only ever grows at its end.
    connect(&items, &QAbstractItemModel::rowsInserted, this, &ShownRows::schedule);
    connect(&items, &ListView::revealRequested, this, [this](int row) {
        m_reveal = row;
        schedule();
    });
    connect(
        &items, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex&, int first, int last) { itemsAboutToBeRemoved(first, last); });
    connect(&items, &QAbstractItemModel::rowsRemoved, this, &ShownRows::itemsRemoved);
    connect(&items, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_timer.stop();
        beginResetModel();
    });
    connect(&items, &QAbstractItemModel::modelReset, this, [this] {
        m_shown = m_items.Count();
        m_reveal = -1;
        endResetModel();
    });
    connect(&items, &QAbstractItemModel::headerDataChanged, this,
            &QAbstractItemModel::headerDataChanged);
}

QModelIndex ShownRows::indexOf(int position) {
    if (position > m_shown)
        showNewRows();
    return index(position - 1);
}

void ShownRows::schedule() {
    if (m_timer.isActive())
        return;
    m_timer.start(static_cast<int>(m_notBefore.remainingTime()));
}

void ShownRows::showNewRows() {
    m_timer.stop();
    QElapsedTimer cost;
    cost.start();
    const int count = m_items.Count();
    const bool added = count > m_shown;
    if (added) {
        beginInsertRows(QModelIndex(), m_shown, count - 1);
        m_shown = count;
        endInsertRows();
    }
    // Scrolling lays the rows out; without it, the layout is done here, where
    // its cost is counted, rather than at the next paint.
    if (m_reveal >= 0 && m_reveal < m_shown)
        m_view.scrollTo(index(m_reveal));
    else if (added)
        m_view.doItemsLayout();
    m_reveal = -1;
    m_notBefore = QDeadlineTimer(std::chrono::nanoseconds(4 * cost.nsecsElapsed()));
}

void ShownRows::itemsAboutToBeRemoved(int first, int last) {
    m_removing = 0;
    if (first >= m_shown)
        return;
    last = std::min(last, m_shown - 1);
    m_removing = last - first + 1;
    beginRemoveRows(QModelIndex(), first, last);
}

void ShownRows::itemsRemoved() {
    if (m_removing == 0)
        return;
    m_shown -= m_removing;
    m_removing = 0;
    endRemoveRows();
}

int ShownRows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shown;
}

QVariant ShownRows::data(const QModelIndex& index, int role) const {
    return m_items.data(m_items.index(index.row()), role);
}

QVariant ShownRows::headerData(int section, Qt::Orientation orientation, int role) const {
    return m_items.headerData(section, orientation, role);
}

QModelIndex ShownRows::index(int row, int column, const QModelIndex& parent) const {
    // Called for every row at every layout: without the virtual calls of the
    // general check.
    if (row < 0 || row >= m_shown || column != 0 || parent.isValid())
        return QModelIndex();
    return createIndex(row, column);
}

Qt::ItemFlags ShownRows::flags(const QModelIndex& index) const {
    return index.isValid() ? ListView::ItemFlags : Qt::NoItemFlags;
}
