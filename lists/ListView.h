#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QStringList>

// The model both work lists share: an ordered sequence of text items at positions
// 1..Count, appended at the end, duplicates allowed, at most one selected item,
// column headers with widths. A position outside 1..Count is a Failure of the
// calling statement. Every item's check mark reads as set (nothing clears one).
class ListView : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ListView(QObject* parent = nullptr);

    // ListItems
    int Count() const { return static_cast<int>(m_texts.size()); }
    const QString& Text(int position) const;
    // SubItems(k - 1): the text of column k (k >= 2) of the item; empty when unset.
    QString SubItem(int position, int index) const;
    void SetSubItem(int position, int index, const QString& text);
    bool Checked(int position) const;
    // Appends an item and returns its position.
    int Add(const QString& text);
    void Remove(int position);
    void Clear();
    // All item texts, for a snapshot.
    QStringList Texts() const;

    // SelectedItem and its Index; 0 when nothing is selected.
    int SelectedIndex() const { return m_selected; }
    void Select(int position);

    // EnsureVisible: asks the view to scroll the item into view.
    void EnsureVisible(int position);

    // ColumnHeaders, positions from 1; widths in twips.
    int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    int AddColumn(const QString& text);
    const QString& ColumnText(int column) const;
    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int twips);

    // The characters of an item that a view shows: the start of a longer item,
    // ended by an ellipsis.
    static constexpr qsizetype DisplayedCharacters = 1024;

    // Every item can be selected and has no children.
    static constexpr Qt::ItemFlags ItemFlags{Qt::ItemIsEnabled | Qt::ItemIsSelectable |
                                             Qt::ItemNeverHasChildren};

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void revealRequested(int row);
    void selectionChanged(int position);
    void columnsChanged();

private:
    struct Column {
        QString text;
        int width = 1440;
    };
    void checkPosition(int position) const;
    void checkColumn(int column) const;

    // The items' texts; a list can hold millions, so an item is its text alone.
    // The sub items, which only lists of several columns have, are kept apart:
    // empty until one is set, then one entry per item.
    QList<QString> m_texts;
    QList<QStringList> m_subItems;
    QList<Column> m_columns;
    int m_selected = 0;
};
