#include "base/Main.h"

#include "base/Failure.h"
#include "base/Shell.h"
#include "base/Statements.h"

#include <QFile>

namespace {
constexpr int ClipboardAttempts = 1000;
} // namespace

void ForceDeleteFile(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return;
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
    if (!file.remove())
        throw Failure(file.errorString());
}

void ClearClipboard(Shell& shell) {
    for (int attempt = 0; attempt < ClipboardAttempts; ++attempt) {
        bool done = false;
        Silently([&] { done = shell.clipboardClear(); });
        if (done)
            return;
    }
}

bool SetClipboardText(Shell& shell, const QString& text, int format) {
    // Only plain text exists on this platform's clipboard interface.
    (void)format;
    for (int attempt = 0; attempt < ClipboardAttempts; ++attempt) {
        bool done = false;
        Silently([&] { done = shell.clipboardSetText(text); });
        if (done)
            return true;
    }
    return false;
}
