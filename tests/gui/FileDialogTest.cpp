#include "base/CommonDialog.h"
#include "tests/support/QtPrinters.h"
#include "window/qt/QtShell.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {
CommonDialog SaveDialog() {
    CommonDialog dialog;
    dialog.DialogTitle = QStringLiteral("Save");
    dialog.Filter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
    return dialog;
}

// Acts on the file dialog once it shows. Anything modal still open a few
// seconds later (an unwanted overwrite question) is recorded and closed, so
// that a fault cannot hang the test. The timers end with the driver.
class DialogDriver : public QObject {
public:
    QStringList strays;

    void whenShown(const std::function<void(QFileDialog&)>& act) {
        QTimer::singleShot(0, this, [act] {
            if (auto* box = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
                act(*box);
        });
        QTimer::singleShot(3000, this, [this] {
            while (QWidget* modal = QApplication::activeModalWidget()) {
                strays.append(QLatin1String(modal->metaObject()->className()));
                modal->close();
            }
        });
    }
};
} // namespace

TEST(FileDialog, FiltersBecomeQtNameFiltersWithoutExtensionlessFilesLeftOut) {
    EXPECT_EQ(QtShell::nameFilters(SaveDialog()),
              QStringList({"Text Files (*.txt)", "All Files (*)"}));
    CommonDialog several;
    several.Filter = QStringLiteral("Pages|*.htm;*.html");
    EXPECT_EQ(QtShell::nameFilters(several), QStringList{"Pages (*.htm *.html)"});
}

TEST(FileDialog, SaveTakesOneNameFirstFilterChosenAndNeverAsksItself) {
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("results.txt"));
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QtShell shell;
    CommonDialog dialog = SaveDialog();
    QString chosenFilter;
    DialogDriver driver;
    driver.whenShown([&](QFileDialog& box) {
        chosenFilter = box.selectedNameFilter();
        box.selectFile(existing);
        static_cast<QDialog&>(box).accept(); // QFileDialog hides it
    });
    shell.showSave(dialog);
    EXPECT_EQ(chosenFilter, QStringLiteral("Text Files (*.txt)"));
    EXPECT_EQ(dialog.FileName, existing);
    EXPECT_TRUE(driver.strays.isEmpty()) << qPrintable(driver.strays.join(u' '));
}

TEST(FileDialog, OpenTakesATypedNameAndCancelLeavesNone) {
    QTemporaryDir dir;
    const QString typed = dir.filePath(QStringLiteral("not there yet.txt"));
    QtShell shell;
    CommonDialog dialog = SaveDialog();
    DialogDriver driver;
    driver.whenShown([&](QFileDialog& box) {
        box.selectFile(typed);
        static_cast<QDialog&>(box).accept(); // QFileDialog hides it
    });
    shell.showOpen(dialog);
    EXPECT_EQ(dialog.FileName, typed);

    driver.whenShown([](QFileDialog& box) { box.reject(); });
    shell.showOpen(dialog);
    EXPECT_EQ(dialog.FileName, QString());
    EXPECT_TRUE(driver.strays.isEmpty()) << qPrintable(driver.strays.join(u' '));
}

TEST(Clipboard, SetTextIsReadBack) {
    QtShell shell;
    ASSERT_TRUE(shell.clipboardSetText(QStringLiteral("a\r\nb\r\n")));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("a\r\nb\r\n"));
    ASSERT_TRUE(shell.clipboardClear());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());
}
