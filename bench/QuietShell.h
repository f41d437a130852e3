#pragma once

#include "base/Shell.h"

// A shell that answers everything at once and never yields: the benchmarks
// measure the core's own work.
class QuietShell : public Shell {
public:
    int messageBox(const PlainMessage&) override { return 1; }
    void applicationError(const ApplicationError&) override {}
    QString inputBox(const QString&, const QString&) override { return {}; }
    void showOpen(CommonDialog&) override {}
    void showSave(CommonDialog&) override {}
    bool clipboardClear() override { return true; }
    bool clipboardSetText(const QString&) override { return true; }
    void yield(YieldPlace) override {}
    void endProgram() override {}
};
