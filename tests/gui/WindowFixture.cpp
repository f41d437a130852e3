#include "tests/gui/WindowFixture.h"

#include "tests/gui/WaitUntil.h"

#include <QTest>
#include <QWindow>

void WindowFixture::SetUp() {
    ASSERT_TRUE(folder.isValid());
    form = std::make_unique<Form1>(shell);
    form->ApplicationFolder = folder.path();
}

void WindowFixture::TearDown() {
    view.reset();
    form.reset();
}

void WindowFixture::start() {
    view = std::make_unique<Form1View>(*form);
    form->Form_Load();
    view->show();
    ASSERT_TRUE(
        WaitUntil([&] { return view->windowHandle() && view->windowHandle()->isExposed(); }));
}

QPushButton* WindowFixture::button(const char* name) const {
    return view->findChild<QPushButton*>(QLatin1String(name));
}

QWidget* WindowFixture::control(const char* name) const {
    return view->findChild<QWidget*>(QLatin1String(name));
}

void WindowFixture::moveMouseTo(QWidget* widget, QPoint at) {
    if (at.isNull())
        at = widget->rect().center();
    QTest::mouseMove(widget, at);
    QCoreApplication::processEvents();
}

// New items reach a list's view at a turn of the event loop.
static QRect itemRect(QTreeView* list, int position) {
    WaitUntil([&] { return list->model()->rowCount() >= position; });
    return list->visualRect(list->model()->index(position - 1, 0));
}

void WindowFixture::clickItem(QTreeView* list, int position) {
    const QRect item = itemRect(list, position);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
}

void WindowFixture::doubleClickItem(QTreeView* list, int position) {
    const QRect item = itemRect(list, position);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
}

Qt::CursorShape WindowFixture::cursorShape() const {
    return view->cursor().shape();
}
