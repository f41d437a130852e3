#pragma once

#include <QString>

class Shell;

// Small routines the commands share.

// Deletes a file even when it is read-only. Throws Failure.
void ForceDeleteFile(const QString& path);

// The clipboard, retried up to 1000 times while another program holds it.
void ClearClipboard(Shell& shell);
// format 0 is plain text. True when the text was placed.
bool SetClipboardText(Shell& shell, const QString& text, int format = 0);
