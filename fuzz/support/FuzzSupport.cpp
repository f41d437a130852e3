#include "fuzz/support/FuzzSupport.h"

#include "base/CommonDialog.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

void NullShell::showOpen(CommonDialog& dialog) {
    dialog.FileName.clear();
}

void NullShell::showSave(CommonDialog& dialog) {
    dialog.FileName.clear();
}

void StartFuzzApplication(int* argc, char*** argv) {
    static QCoreApplication* app = new QCoreApplication(*argc, *argv);
    (void)app;
}

void FuzzFailure(const char* what, const QString& detail) {
    std::fprintf(stderr, "invariant broken: %s\n%s\n", what, detail.toUtf8().constData());
    std::abort();
}
