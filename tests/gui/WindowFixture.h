#pragma once

#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"
#include "window/qt/Form1View.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>

// The real window, offscreen, over a Form1 whose dialogs the scripted shell
// answers. The program's folder is a temporary folder, so a test decides
// whether HAND-M.CUR is there.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the window and runs the start-up; call after preparing the folder.
    void start();

    QPushButton* button(const char* name) const;
    QWidget* control(const char* name) const;
    // Moves the mouse to a point of a widget (its centre by default), as the
    // window system reports it.
    void moveMouseTo(QWidget* widget, QPoint at = QPoint());
    // Clicks the item at a position (1-based) of a list.
    void clickItem(QTreeView* list, int position);
    void doubleClickItem(QTreeView* list, int position);
    Qt::CursorShape cursorShape() const;

    QTemporaryDir folder;
    ScriptedShell shell;
    std::unique_ptr<Form1> form;
    std::unique_ptr<Form1View> view;
};
