#include "window/qt/Form1View.h"

#include "base/Statements.h"
#include "window/qt/ApplicationIcon.h"
#include "window/qt/CursorPicture.h"
#include "window/qt/ShownRows.h"
#include "window/qt/Twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QTreeView>
#include <initializer_list>

namespace {
// Client area of the window at its first size, in twips.
constexpr int FormWidth = 8040;
constexpr int FormHeight = 9300;

const char* const ListToolTip = "Double-click item to remove it. Move | line to right and out of "
                                "window to reveal full names.";

using Across = Form1View::Across;
using Down = Form1View::Down;

struct ButtonSpec {
    const char* name;
    const char* caption;
    void (Form1::*handler)();
    Form1::Control control;
    int left, top, width, height;
    Across across;
    Down down;
};

// The push buttons in tab order, with their place in twips and how a larger
// window moves and widens them.
const ButtonSpec Buttons[] = {
    {"PushButton5", "Add One URL", &Form1::PushButton5_Click, Form1::Control::PushButton5, 120,
     2750, 3840, 405, Across::LeftHalf, Down::BetweenLists},
    {"PushButton13", "Load URL List From File", &Form1::PushButton13_Click,
     Form1::Control::PushButton13, 4080, 2750, 3840, 405, Across::RightHalf, Down::BetweenLists},
    {"PushButton11", "Clear List", &Form1::PushButton11_Click, Form1::Control::PushButton11, 120,
     3260, 3840, 405, Across::LeftHalf, Down::BetweenLists},
    {"PushButton7", nullptr, &Form1::PushButton7_Click, Form1::Control::PushButton7, 120, 4845,
     7800, 405, Across::Whole, Down::BetweenLists},
    {"PushButton6", "Save Results As Text File", &Form1::PushButton6_Click,
     Form1::Control::PushButton6, 120, 7980, 3840, 405, Across::LeftHalf, Down::BelowLists},
    {"PushButton1", "Save As Comma Delimited", &Form1::PushButton1_Click,
     Form1::Control::PushButton1, 4080, 7980, 3840, 405, Across::RightHalf, Down::BelowLists},
    {"PushButton3", "Copy Results To Clipboard", &Form1::PushButton3_Click,
     Form1::Control::PushButton3, 120, 8490, 3840, 405, Across::LeftHalf, Down::BelowLists},
    {"PushButton9", "Clear Results", &Form1::PushButton9_Click, Form1::Control::PushButton9, 4080,
     8475, 3840, 405, Across::RightHalf, Down::BelowLists},
    {"PushButton2", "Load Sample/Example Sites", &Form1::PushButton2_Click,
     Form1::Control::PushButton2, 4080, 3260, 3840, 405, Across::RightHalf, Down::BetweenLists},
};

QFont arialBold(qreal points) {
    // Asking for Arial: fontconfig answers with a metric-compatible face where
    // Arial itself is not installed.
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}
} // namespace

Form1View::Form1View(Form1& form, QWidget* parent) : QWidget(parent), m_form(form) {
    setUpWindow();
    m_listView1 = makeList(m_list1, form.ListView1, true, "ListView1");
    m_listView2 = makeList(m_list2, form.ListView2, false, "ListView2");
    makeFrame();
    makeButtons();
    makeStatusLine();

    // Tab order: the lists, the frame and its choices, then the buttons in the
    // order of the table above.
    QList<QWidget*> order{m_listView1, m_listView2, m_frame1, m_option1, m_option2,
                          m_check2,    m_check3,    m_check4, m_depth1};
    for (const ButtonSpec& spec : Buttons)
        order.append(findChild<QPushButton*>(QLatin1String(spec.name)));
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    bindList(m_list1);
    bindList(m_list2);
    bindOptions();
    connect(&form, &Form1::captionChanged, this, [this] { setWindowTitle(m_form.Caption()); });
    connect(&form, &Form1::pushButton7CaptionChanged, this,
            [this] { m_pushButton7->setText(m_form.PushButton7Caption()); });
    connect(&form, &Form1::mousePointerChanged, this, &Form1View::showPointer);
    connect(&form, &Form1::mouseIconChanged, this, &Form1View::showPointer);
    connect(&form, &Form1::iconChanged, this, &Form1View::showIcon);
    // The status line is redrawn at once when a run starts or ends, and during a
    // run from a timer: never once per link.
    m_statusTimer.setInterval(StatusRefreshMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &Form1View::showStatus);
    connect(&form.Tally(), &RunTally::stateChanged, this, &Form1View::showRunState);

    setWindowTitle(form.Caption());
    showIcon();
    showPointer();
    showRunState();
}

int Form1View::pixelsX(int twips) const {
    return TwipsToPixels(twips, logicalDpiX());
}

int Form1View::pixelsY(int twips) const {
    return TwipsToPixels(twips, logicalDpiY());
}

void Form1View::place(QWidget* widget, int left, int top, int width, int height, Across across,
                      Down down) {
    m_placed.push_back({widget, left, top, width, height, across, down});
    widget->setGeometry(geometryOf(m_placed.back()));
}

QRect Form1View::geometryOf(const Placed& p) const {
    // Each length is converted on its own, so that the first size is exactly the
    // layout's; what the window gained is added in pixels.
    int left = pixelsX(p.left), width = pixelsX(p.width);
    int top = pixelsY(p.top), height = pixelsY(p.height);
    const int across = m_gained.width();
    const int down = m_gained.height();
    switch (p.across) {
    case Across::Whole:
        width += across;
        break;
    case Across::LeftHalf:
        width += across / 2;
        break;
    case Across::RightHalf:
        left += across / 2;
        width += across - across / 2;
        break;
    case Across::Fixed:
        break;
    }
    switch (p.down) {
    case Down::UpperList:
        height += down / 2;
        break;
    case Down::BetweenLists:
        top += down / 2;
        break;
    case Down::LowerList:
        top += down / 2;
        height += down - down / 2;
        break;
    case Down::BelowLists:
        top += down;
        break;
    case Down::Fixed:
        break;
    }
    return QRect(left, top, width, height);
}

void Form1View::layOut() {
    const QSize first(pixelsX(FormWidth), pixelsY(FormHeight));
    const QSize gained = (size() - first).expandedTo(QSize(0, 0));
    if (gained == m_gained)
        return;
    const int widened = gained.width() - m_gained.width();
    m_gained = gained;
    for (const Placed& placed : m_placed)
        placed.widget->setGeometry(geometryOf(placed));
    // The lists' columns widen and narrow with their lists, keeping whatever
    // width the person gave them.
    for (QTreeView* list : {m_listView1, m_listView2})
        if (list->header()->count() > 0)
            list->header()->resizeSection(0, list->header()->sectionSize(0) + widened);
    // The status line has another width to fit its text into.
    showStatus();
}

void Form1View::setUpWindow() {
    setObjectName(QStringLiteral("Form1"));
    // A fixed border: a minimise button, no maximise button, no resizing.
    // A border that can be dragged to make the window larger, never smaller than
    // its first size; so a maximise button too.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    const QSize first(pixelsX(FormWidth), pixelsY(FormHeight));
    setMinimumSize(first);
    resize(first);
    setFont(arialBold(9));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    // The hover rule needs every movement, not only drags.
    setMouseTracking(true);
}

QTreeView* Form1View::makeList(ListBinding& binding, ListView& model, bool urls, const char* name) {
    auto* view = new QTreeView(this);
    view->setObjectName(QLatin1String(name));
    auto* rows = new ShownRows(model, *view);
    // Connected before the view's own handlers, so that it is set when they run.
    connect(rows, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [&binding] { binding.removing = true; });
    view->setModel(rows);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setItemsExpandable(false);
    view->setAllColumnsShowFocus(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->header()->setStretchLastSection(false);
    view->header()->setSectionsMovable(false);
    view->setToolTip(QLatin1String(ListToolTip));
    place(view, 120, urls ? 120 : 5360, 7800, 2535, Across::Whole,
          urls ? Down::UpperList : Down::LowerList);

    binding.view = view;
    binding.model = &model;
    binding.rows = rows;
    binding.urls = urls;
    // Delete arrives at the list, which has the focus; clicks and movement at
    // the area that shows the items, and at the header for the column's line.
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    // The whole list is one target: its items, header, scroll bars and frame.
    const Form1::Control control = urls ? Form1::Control::ListView1 : Form1::Control::ListView2;
    for (QWidget* part : {static_cast<QWidget*>(view), view->viewport(), view->header()->viewport(),
                          static_cast<QWidget*>(view->verticalScrollBar()),
                          static_cast<QWidget*>(view->horizontalScrollBar())})
        hoverTarget(part, control);
    view->setAttribute(Qt::WA_NoMousePropagation);
    view->header()->setAttribute(Qt::WA_NoMousePropagation);
    return view;
}

void Form1View::makeFrame() {
    m_frame1 = new QGroupBox(QStringLiteral("Option"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    place(m_frame1, 120, 3720, 7800, 1005, Across::Whole, Down::BetweenLists);
    hoverTarget(m_frame1, Form1::Control::Frame1);

    // Placed inside the frame, measured from its corner.
    m_option1 = new QRadioButton(QStringLiteral("Retrieve HTML links"), m_frame1);
    m_option1->setObjectName(QStringLiteral("Option1"));
    place(m_option1, 270, 300, 2085, 255);
    m_option2 = new QRadioButton(QStringLiteral("Retrieve file links"), m_frame1);
    m_option2->setObjectName(QStringLiteral("Option2"));
    place(m_option2, 2430, 300, 2085, 255);
    m_check2 = new QCheckBox(QStringLiteral("Extract forever"), m_frame1);
    m_check2->setObjectName(QStringLiteral("Check2"));
    place(m_check2, 4560, 300, 1695, 255);

    // The second row: what a crawl keeps to.
    m_check3 = new QCheckBox(QStringLiteral("Stay on the same site"), m_frame1);
    m_check3->setObjectName(QStringLiteral("Check3"));
    place(m_check3, 270, 600, 2145, 255);
    m_check4 = new QCheckBox(QStringLiteral("Obey robots.txt"), m_frame1);
    m_check4->setObjectName(QStringLiteral("Check4"));
    place(m_check4, 2430, 600, 2085, 255);
    m_label1 = new QLabel(QStringLiteral("Depth:"), m_frame1);
    m_label1->setObjectName(QStringLiteral("Label1"));
    place(m_label1, 4560, 600, 600, 255);
    m_depth1 = new QSpinBox(m_frame1);
    m_depth1->setObjectName(QStringLiteral("Depth1"));
    m_depth1->setRange(0, Form1::MaxDepth1);
    // 0, the lowest value, is shown as "no limit".
    m_depth1->setSpecialValueText(QStringLiteral("no limit"));
    m_label1->setBuddy(m_depth1);
    // Centred on the row: a spin box is a little taller than a check box.
    place(m_depth1, 5220, 570, 1080, 330);

    // Movement over the choices changes nothing, so it must not reach the frame
    // around them either (Qt hands an unhandled movement on to the parent).
    for (QWidget* choice : std::initializer_list<QWidget*>{m_option1, m_option2, m_check2, m_check3,
                                                           m_check4, m_label1, m_depth1})
        choice->setAttribute(Qt::WA_NoMousePropagation);
}

void Form1View::makeButtons() {
    QPalette white = palette();
    white.setColor(QPalette::Button, Qt::white);
    for (const ButtonSpec& spec : Buttons) {
        auto* button = new QPushButton(this);
        button->setObjectName(QLatin1String(spec.name));
        button->setText(spec.caption ? QString::fromLatin1(spec.caption)
                                     : m_form.PushButton7Caption());
        button->setFont(arialBold(11.25));
        button->setPalette(white);
        button->setAutoDefault(false);
        place(button, spec.left, spec.top, spec.width, spec.height, spec.across, spec.down);
        hoverTarget(button, spec.control);
        const auto handler = spec.handler;
        const char* name = spec.name;
        connect(button, &QPushButton::clicked, this, [form = &m_form, handler, name] {
            IgnoringFailures(name, [form, handler] { (form->*handler)(); });
        });
        if (spec.control == Form1::Control::PushButton7)
            m_pushButton7 = button;
    }
}

void Form1View::makeStatusLine() {
    // In the window's font, on white, outside the tab order; movement over it is
    // movement over the window.
    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QStringLiteral("StatusLine"));
    m_statusLine->setTextFormat(Qt::PlainText);
    m_statusLine->setFocusPolicy(Qt::NoFocus);
    QPalette white = m_statusLine->palette();
    white.setColor(QPalette::Window, Qt::white);
    m_statusLine->setPalette(white);
    m_statusLine->setAutoFillBackground(true);
    place(m_statusLine, 120, 8960, 7800, 255, Across::Whole, Down::BelowLists);
}

void Form1View::hoverTarget(QWidget* widget, Form1::Control control) {
    widget->setMouseTracking(true);
    widget->setAttribute(Qt::WA_NoMousePropagation);
    widget->installEventFilter(this);
    m_hoverTargets.insert(widget, control);
}

void Form1View::bindList(ListBinding& binding) {
    QTreeView* view = binding.view;
    ListView& model = *binding.model;
    // The list's selected item is the item the user last left selected.
    connect(binding.rows, &QAbstractItemModel::rowsRemoved, this,
            [&binding] { binding.removing = false; });
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [&binding, view, &model] {
                if (binding.removing)
                    return;
                IgnoringFailures("select", [&] {
                    const QModelIndexList rows = view->selectionModel()->selectedRows();
                    model.Select(rows.isEmpty() ? 0 : rows.constFirst().row() + 1);
                });
            });
    connect(&model, &ListView::selectionChanged, view, [view, rows = binding.rows](int position) {
        QItemSelectionModel* selection = view->selectionModel();
        if (position <= 0) {
            selection->clearSelection();
            return;
        }
        const QModelIndex index = rows->indexOf(position);
        if (!selection->isRowSelected(index.row()))
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    });
    connect(&model, &ListView::columnsChanged, this,
            [this, &binding] { showColumnWidth(binding); });
    showColumnWidth(binding);
}

void Form1View::showColumnWidth(const ListBinding& binding) {
    // Wider by what the window has gained across, as the list is.
    if (binding.model->ColumnCount() >= 1)
        binding.view->header()->resizeSection(0, pixelsX(binding.model->ColumnWidth(1)) +
                                                     m_gained.width());
}

void Form1View::bindOptions() {
    connect(m_option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_form.setOption1(true);
    });
    connect(m_option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_form.setOption2(true);
    });
    connect(m_check2, &QCheckBox::toggled, this, [this](bool on) { m_form.setCheck2(on ? 1 : 0); });
    connect(m_check3, &QCheckBox::toggled, this, [this](bool on) { m_form.setCheck3(on ? 1 : 0); });
    connect(m_check4, &QCheckBox::toggled, this, [this](bool on) { m_form.setCheck4(on ? 1 : 0); });
    connect(m_depth1, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int depth) { m_form.setDepth1(depth); });
    connect(&m_form, &Form1::optionsChanged, this, &Form1View::showOptions);
    showOptions();
}

void Form1View::showOptions() {
    m_option1->setChecked(m_form.Option1());
    m_option2->setChecked(m_form.Option2());
    m_check2->setChecked(m_form.Check2() != 0);
    m_check3->setChecked(m_form.Check3() != 0);
    m_check4->setChecked(m_form.Check4() != 0);
    m_depth1->setValue(m_form.Depth1());
}

void Form1View::showPointer() {
    switch (m_form.MousePointer()) {
    case Form1::PointerHourglass:
        setCursor(Qt::WaitCursor);
        return;
    case Form1::PointerCustom:
        if (m_form.MouseIconPath() != m_customCursorPath) {
            m_customCursorPath = m_form.MouseIconPath();
            m_customCursor =
                m_customCursorPath.isEmpty() ? std::nullopt : LoadCursorPicture(m_customCursorPath);
        }
        // Without a custom pointer of its own the window shows the system's hand.
        setCursor(m_customCursor ? *m_customCursor : QCursor(Qt::PointingHandCursor));
        return;
    default:
        setCursor(Qt::ArrowCursor);
        return;
    }
}

void Form1View::showRunState() {
    if (m_form.Tally().running())
        m_statusTimer.start();
    else
        m_statusTimer.stop();
    m_tipFailures = -1;
    showStatus();
}

void Form1View::showStatus() {
    const RunTally& tally = m_form.Tally();
    // Shortened to the label's width, in the middle of the address: a label would
    // cut it off at its edge.
    const QFontMetrics metrics(m_statusLine->font());
    const int width = m_statusLine->contentsRect().width();
    const QString text =
        tally.text([&](const QString& t) { return metrics.horizontalAdvance(t) <= width; });
    if (m_statusLine->text() != text)
        m_statusLine->setText(text);
    // The list of failures changes only with their count.
    if (m_tipFailures != tally.failed()) {
        m_tipFailures = tally.failed();
        m_statusLine->setToolTip(tally.failureList());
    }
}

void Form1View::showIcon() {
    if (m_form.Icon() == Form1::ApplicationIconName)
        setWindowIcon(ApplicationIcon());
}

Form1View::ListBinding* Form1View::listOf(QObject* watched) {
    if (watched == m_listView1 || watched == m_listView1->viewport())
        return &m_list1;
    if (watched == m_listView2 || watched == m_listView2->viewport())
        return &m_list2;
    return nullptr;
}

bool Form1View::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto target = m_hoverTargets.constFind(watched);
        if (target != m_hoverTargets.constEnd())
            m_form.MouseMove(target.value());
        break;
    }
    case QEvent::KeyPress: {
        ListBinding* list = listOf(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (list && list->view == watched && key->key() == Qt::Key_Delete) {
            if (list->urls)
                m_form.ListView1_KeyDown(Form1::DeleteKey);
            else
                m_form.ListView2_KeyDown(Form1::DeleteKey);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonDblClick: {
        // Wherever it lands, a double-click removes the list's selected item.
        ListBinding* list = listOf(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (list && list->view != watched && mouse->button() == Qt::LeftButton) {
            if (list->urls)
                m_form.ListView1_DblClick();
            else
                m_form.ListView2_DblClick();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1View::mouseMoveEvent(QMouseEvent* event) {
    // Only movement over the bare window arrives here; the controls keep theirs.
    m_form.MouseMove(Form1::Control::Form);
    event->accept();
}

void Form1View::showEvent(QShowEvent* event) {
    if (!m_centred) {
        m_centred = true;
        if (QScreen* screen = this->screen()) {
            QRect frame = geometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

void Form1View::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOut();
}

void Form1View::closeEvent(QCloseEvent* event) {
    event->accept();
    IgnoringFailures("Form_Unload", [this] { m_form.Form_Unload(); });
}
