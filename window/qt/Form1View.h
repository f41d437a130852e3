#pragma once

#include "window/Form1.h"

#include <QCursor>
#include <QHash>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <vector>

class ListView;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
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

    // The window opens at its layout's size and may be made larger, not smaller.
    // What it gains across goes to every control: the whole of it to those as wide
    // as the window, half of it to each button of a row of two. What it gains
    // down goes to the two lists, half to each; the controls between them move
    // down by the first half, those below them by all of it.
    enum class Across { Whole, LeftHalf, RightHalf, Fixed };
    enum class Down { UpperList, BetweenLists, LowerList, BelowLists, Fixed };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
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
    // Where a control stands at the first size, in twips, and how it grows.
    struct Placed {
        QWidget* widget;
        int left, top, width, height;
        Across across;
        Down down;
    };
    void place(QWidget* widget, int left, int top, int width, int height,
               Across across = Across::Fixed, Down down = Down::Fixed);
    void layOut();
    QRect geometryOf(const Placed& placed) const;
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
    QCheckBox* m_check3 = nullptr;
    QCheckBox* m_check4 = nullptr;
    QLabel* m_label1 = nullptr;
    QSpinBox* m_depth1 = nullptr;
    QPushButton* m_pushButton7 = nullptr;
    QLabel* m_statusLine = nullptr;
    // Redraws the status line during a run.
    QTimer m_statusTimer;
    // The failures the status line's tool tip lists, as counted when it was made.
    qint64 m_tipFailures = -1;
    QHash<QObject*, Form1::Control> m_hoverTargets;
    std::vector<Placed> m_placed;
    // What the window has gained over its first size, in pixels.
    QSize m_gained;
    QString m_customCursorPath;
    std::optional<QCursor> m_customCursor;
    bool m_centred = false;
};
