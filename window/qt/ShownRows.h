#pragma once

#include <QAbstractListModel>
#include <QDeadlineTimer>
#include <QTimer>

class ListView;
class QAbstractItemView;

// The rows of a list that its view shows. A view lays out all of its rows again
// whenever rows are added (QTreeView builds one layout item per row), so at two
// million results every turn of the event loop that brought a new result cost
// tens of milliseconds. New items reach the view here in batches instead: at the
// next turn of the event loop, but never sooner after the last batch than four
// times what that batch cost, so that laying out the rows takes at most a fifth
// of the time however long the list grows. Scrolling to an item is done with
// the batch that shows it. The rows shown are always the first rows of the list,
// in its order; removing and clearing reach the view at once.
class ShownRows : public QAbstractListModel {
    Q_OBJECT
public:
    ShownRows(ListView& items, QAbstractItemView& view);

    // The index of an item (1-based) in this model; items not shown yet are
    // shown first.
    QModelIndex indexOf(int position);

    QModelIndex index(int row, int column = 0,
                      const QModelIndex& parent = QModelIndex()) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void schedule();
    void showNewRows();
    void itemsAboutToBeRemoved(int first, int last);
    void itemsRemoved();

    ListView& m_items;
    QAbstractItemView& m_view;
    QTimer m_timer;
    // The next batch is shown no sooner than this.
    QDeadlineTimer m_notBefore;
    int m_shown = 0;
    // Rows of a removal that the view shows; 0 when none.
    int m_removing = 0;
    // The row to scroll to with the next batch; -1 for none.
    int m_reveal = -1;
};
