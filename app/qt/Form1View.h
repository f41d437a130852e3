#pragma once

#include <QWidget>

class Form1;
class ListView;
class QPushButton;
class QTreeView;

// The window: owns the widgets, forwards their events to Form1 and redraws from
// Form1's state. No logic of its own.
class Form1View : public QWidget {
    Q_OBJECT
public:
    explicit Form1View(Form1& form, QWidget* parent = nullptr);

    QTreeView* listView1() const { return m_listView1; }
    QTreeView* listView2() const { return m_listView2; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QTreeView* makeList(ListView& model, const char* name);
    QPushButton* makeButton(const QString& caption, const char* name);
    void bindList(QTreeView* view, ListView& model, bool urls);
    void updatePointer();

    Form1& m_form;
    QTreeView* m_listView1 = nullptr;
    QTreeView* m_listView2 = nullptr;
};
