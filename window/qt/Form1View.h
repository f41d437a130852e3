#pragma once

#include "window/Form1.h"

#include <QCursor>
#include <QHash>
#include <QTimer>
#include <QWidget>
#include <optional>

class ListView;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeView;
class ShownRows;

// The window: owns the widgets, forwards their events to Form1 and redraws from
// Form1's state (captions, pointer, options, icon, the two lists). No logic of
// its own. Every control carries its name as its object name.
class Form1View : public QWidget {
    Q_OBJECT
public:
    explicit Form1View(Form1& form, QWidget* parent = nullptr);

    QTreeView* listView1() const { return m_listView1; }
    QTreeView* listView2() const { return m_listView2; }
    QLabel* statusLine() const { return m_statusLine; }

    // How often the status line is redrawn during a run, at most.
    static constexpr int StatusRefreshMs = 100;

    // A length of the layout, given in twips, in pixels at this window's dpi.
    int pixelsX(int twips) const;
    int pixelsY(int twips) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct ListBinding {
        QTreeView* view = nullptr;
        ListView* model = nullptr;
        // The rows the view shows: the items, reaching it in batches.
        ShownRows* rows = nullptr;
        bool urls = false;
        // True while the model removes rows: the view's own selection changes
        // then are not the user's.
        bool removing = false;
    };

    void setUpWindow();
    QTreeView* makeList(ListBinding& binding, ListView& model, bool urls, const char* name);
    void makeFrame();
    void makeButtons();
    void makeStatusLine();
    void place(QWidget* widget, int left, int top, int width, int height);
    void hoverTarget(QWidget* widget, Form1::Control control);
    void bindList(ListBinding& binding);
    void bindOptions();
    void showOptions();
    void showColumnWidth(const ListBinding& binding);
    void showPointer();
    void showIcon();
    void showRunState();
    void showStatus();
    ListBinding* listOf(QObject* watched);

    Form1& m_form;
    ListBinding m_list1;
    ListBinding m_list2;
    QTreeView* m_listView1 = nullptr;
    QTreeView* m_listView2 = nullptr;
    QGroupBox* m_frame1 = nullptr;
    QRadioButton* m_option1 = nullptr;
    QRadioButton* m_option2 = nullptr;
    QCheckBox* m_check2 = nullptr;
    QPushButton* m_pushButton7 = nullptr;
    QLabel* m_statusLine = nullptr;
    // Redraws the status line during a run.
    QTimer m_statusTimer;
    // The failures the status line's tool tip lists, as counted when it was made.
    qint64 m_tipFailures = -1;
    QHash<QObject*, Form1::Control> m_hoverTargets;
    QString m_customCursorPath;
    std::optional<QCursor> m_customCursor;
    bool m_centred = false;
};
