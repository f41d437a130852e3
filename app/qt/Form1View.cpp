#include "app/qt/Form1View.h"

#include "app/Form1.h"
#include "app/Statements.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

Form1View::Form1View(Form1& form, QWidget* parent) : QWidget(parent), m_form(form) {
    setObjectName(QStringLiteral("Form1"));
    auto* layout = new QVBoxLayout(this);
    m_listView1 = makeList(form.ListView1, "ListView1");
    m_listView2 = makeList(form.ListView2, "ListView2");
    auto* clearList = makeButton(QStringLiteral("Clear List"), "PushButton11");
    auto* clearResults = makeButton(QStringLiteral("Clear Results"), "PushButton9");
    layout->addWidget(m_listView1);
    layout->addWidget(clearList);
    layout->addWidget(m_listView2);
    layout->addWidget(clearResults);
    connect(clearList, &QPushButton::clicked, this,
            [this] { IgnoringFailures("PushButton11", [this] { m_form.PushButton11_Click(); }); });
    connect(clearResults, &QPushButton::clicked, this,
            [this] { IgnoringFailures("PushButton9", [this] { m_form.PushButton9_Click(); }); });
    bindList(m_listView1, form.ListView1, true);
    bindList(m_listView2, form.ListView2, false);
    connect(&form, &Form1::captionChanged, this, [this] { setWindowTitle(m_form.Caption()); });
    connect(&form, &Form1::mousePointerChanged, this, [this] { updatePointer(); });
    setWindowTitle(form.Caption());
    updatePointer();
}

QTreeView* Form1View::makeList(ListView& model, const char* name) {
    auto* view = new QTreeView(this);
    view->setObjectName(QLatin1String(name));
    view->setModel(&model);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setToolTip(QStringLiteral("Double-click item to remove it. Move | line to right and "
                                    "out of window to reveal full names."));
    view->installEventFilter(this);
    return view;
}

QPushButton* Form1View::makeButton(const QString& caption, const char* name) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QLatin1String(name));
    return button;
}

void Form1View::bindList(QTreeView* view, ListView& model, bool urls) {
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [&model](const QModelIndex& current) {
                IgnoringFailures("select",
                                 [&] { model.Select(current.isValid() ? current.row() + 1 : 0); });
            });
    connect(&model, &ListView::selectionChanged, view, [view, &model](int position) {
        const QModelIndex index = position > 0 ? model.index(position - 1) : QModelIndex();
        if (view->currentIndex() != index)
            view->setCurrentIndex(index);
    });
    // Scrolling to each new result would slow a run: scroll once, at the next
    // turn of the event loop, to the latest.
    auto* pending = new int(-1);
    connect(view, &QObject::destroyed, [pending] { delete pending; });
    connect(&model, &ListView::revealRequested, view, [view, &model, pending](int row) {
        const bool scheduled = *pending >= 0;
        *pending = row;
        if (scheduled)
            return;
        QTimer::singleShot(0, view, [view, &model, pending] {
            if (*pending >= 0 && *pending < model.Count())
                view->scrollTo(model.index(*pending));
            *pending = -1;
        });
    });
    connect(view, &QAbstractItemView::doubleClicked, this, [this, urls] {
        if (urls)
            m_form.ListView1_DblClick();
        else
            m_form.ListView2_DblClick();
    });
}

bool Form1View::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            if (watched == m_listView1)
                m_form.ListView1_KeyDown(Form1::DeleteKey);
            else if (watched == m_listView2)
                m_form.ListView2_KeyDown(Form1::DeleteKey);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1View::updatePointer() {
    switch (m_form.MousePointer()) {
    case Form1::PointerHourglass:
        setCursor(Qt::WaitCursor);
        break;
    case Form1::PointerCustom:
        setCursor(Qt::PointingHandCursor);
        break;
    default:
        setCursor(Qt::ArrowCursor);
        break;
    }
}

void Form1View::closeEvent(QCloseEvent* event) {
    event->accept();
    m_form.Form_Unload();
}
