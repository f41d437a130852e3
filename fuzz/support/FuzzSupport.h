#pragma once

#include "base/Shell.h"

#include <QString>
#include <cstddef>
#include <cstdint>

// A shell that answers nothing and shows nothing: what a fuzz target runs the
// core against. Every question is answered No, every dialog cancelled.
class NullShell : public Shell {
public:
    int messageBox(const PlainMessage&) override { return 7; }
    void applicationError(const ApplicationError&) override {}
    QString inputBox(const QString&, const QString&) override { return QString(); }
    void showOpen(CommonDialog& dialog) override;
    void showSave(CommonDialog& dialog) override;
    bool clipboardClear() override { return true; }
    bool clipboardSetText(const QString&) override { return true; }
    void yield(YieldPlace) override {}
    void endProgram() override {}
};

// Makes the QCoreApplication the core expects; call from LLVMFuzzerInitialize.
void StartFuzzApplication(int* argc, char*** argv);

// Ends the process with a message when an invariant does not hold, so that
// libFuzzer keeps the input as a crash.
[[noreturn]] void FuzzFailure(const char* what, const QString& detail = QString());

inline void FuzzCheck(bool holds, const char* what, const QString& detail = QString()) {
    if (!holds)
        FuzzFailure(what, detail);
}
