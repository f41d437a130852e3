#pragma once

#include <QString>

class Shell;

// Message box styles and answers, with the values the platform gives them.
namespace MsgStyle {
constexpr int OkOnly = 0;
constexpr int YesNo = 4;
constexpr int Exclamation = 48;
} // namespace MsgStyle

namespace MsgAnswer {
constexpr int Ok = 1;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace MsgAnswer

// The title of every message box and prompt that names none of its own.
const QString& ApplicationTitle();
void SetApplicationTitle(const QString& title);

// "in Quillmere2021/08/31.<module>.<routine> "
QString QualifiedName(const char* module, const char* routine);

// "Please email screenshot of this message to <support address>"
QString SupportRequest();

// The text of the "Application Error" dialog: description, CR LF, qualified
// name, "at line ", number, CR CR, support request.
QString ApplicationErrorText(const QString& description, const QString& qualifiedName,
                             int statement);

// A plain message under the application title; returns the answer.
int MsgBox(Shell& shell, const QString& text, int style = MsgStyle::OkOnly);

// True for any path the system can examine (folders included); false for an
// empty text, a missing path or a path in a missing folder. Never fails.
bool FileExists(const QString& path);
