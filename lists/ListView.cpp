#include "lists/ListView.h"

#include "base/Failure.h"

#include <limits>

namespace {
// The error the list control gives for a position past its end.
constexpr int IndexOutOfBounds = 35600;
} // namespace

ListView::ListView(QObject* parent) : QAbstractListModel(parent) {}

void ListView::checkPosition(int position) const {
    if (position < 1 || position > Count())
        throw Failure(QStringLiteral("Index out of bounds"), IndexOutOfBounds);
}

void ListView::checkColumn(int column) const {
    if (column < 1 || column > ColumnCount())
        throw Failure(QStringLiteral("Index out of bounds"), IndexOutOfBounds);
}

const QString& ListView::Text(int position) const {
    checkPosition(position);
    return m_texts[position - 1];
}

QString ListView::SubItem(int position, int index) const {
    checkPosition(position);
    if (index < 1 || index >= std::max(ColumnCount(), 1))
        throw Failure(QStringLiteral("Invalid property value"), 380);
    if (m_subItems.isEmpty())
        return QString();
    const QStringList& subs = m_subItems[position - 1];
    return index <= subs.size() ? subs[index - 1] : QString();
}

void ListView::SetSubItem(int position, int index, const QString& text) {
    checkPosition(position);
    if (index < 1 || index >= std::max(ColumnCount(), 1))
        throw Failure(QStringLiteral("Invalid property value"), 380);
    if (m_subItems.isEmpty())
        m_subItems.resize(m_texts.size());
    QStringList& subs = m_subItems[position - 1];
    while (subs.size() < index)
        subs.append(QString());
    subs[index - 1] = text;
}

bool ListView::Checked(int position) const {
    checkPosition(position);
    return true;
}

int ListView::Add(const QString& text) {
    if (m_texts.size() >= std::numeric_limits<int>::max())
        throw Failure(QStringLiteral("Out of memory"), 7);
    const int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    // The same link found again and again (a file link is listed every time)
    // shares the text of the item before it.
    if (!m_texts.isEmpty() && m_texts.constLast() == text)
        m_texts.append(m_texts.constLast());
    else
        m_texts.append(text);
    if (!m_subItems.isEmpty())
        m_subItems.append(QStringList());
    endInsertRows();
    return row + 1;
}

void ListView::Remove(int position) {
    checkPosition(position);
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    m_texts.removeAt(position - 1);
    if (!m_subItems.isEmpty())
        m_subItems.removeAt(position - 1);
    endRemoveRows();
    // The item that took the removed one's place becomes selected, so that
    // repeated Delete keeps removing.
    const int before = m_selected;
    if (m_selected == position)
        m_selected = std::min(position, Count());
    else if (m_selected > position)
        --m_selected;
    if (m_selected != before)
        emit selectionChanged(m_selected);
}

void ListView::Clear() {
    beginResetModel();
    m_texts.clear();
    m_texts.squeeze();
    m_subItems.clear();
    m_subItems.squeeze();
    m_selected = 0;
    endResetModel();
    emit selectionChanged(0);
}

QStringList ListView::Texts() const {
    return m_texts;
}

void ListView::Select(int position) {
    if (position != 0)
        checkPosition(position);
    if (m_selected == position)
        return;
    m_selected = position;
    emit selectionChanged(position);
}

void ListView::EnsureVisible(int position) {
    checkPosition(position);
    emit revealRequested(position - 1);
}

int ListView::AddColumn(const QString& text) {
    m_columns.append(Column{text});
    emit headerDataChanged(Qt::Horizontal, 0, 0);
    emit columnsChanged();
    return ColumnCount();
}

const QString& ListView::ColumnText(int column) const {
    checkColumn(column);
    return m_columns[column - 1].text;
}

int ListView::ColumnWidth(int column) const {
    checkColumn(column);
    return m_columns[column - 1].width;
}

void ListView::SetColumnWidth(int column, int twips) {
    checkColumn(column);
    m_columns[column - 1].width = twips;
    emit columnsChanged();
}

int ListView::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

QVariant ListView::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count())
        return {};
    if (role != Qt::DisplayRole)
        return {};
    // A view lays out the whole of the text it is given, and a link from a hostile
    // page can run to megabytes: that would hold the window up for seconds at every
    // change of the list. The view shows the start; the item, and whatever is saved
    // or copied, stays whole.
    const QString& text = m_texts[index.row()];
    if (text.size() <= DisplayedCharacters)
        return text;
    qsizetype shown = DisplayedCharacters - 1;
    if (text[shown - 1].isHighSurrogate())
        --shown;
    return QString(text.left(shown) + QChar(0x2026));
}

QVariant ListView::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount())
        return m_columns[section].text;
    return QAbstractListModel::headerData(section, orientation, role);
}

Qt::ItemFlags ListView::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return ItemFlags;
}
