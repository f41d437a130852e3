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

// Every plain message the program shows. A front end tells them apart by these,
// never by their texts, which may be reworded and live in one table
// (Messages.cpp).
enum class MessageId {
    Done,                 // the run has ended
    NoUrlsAdded,          // Start with an empty URL list
    FileNotFound,         // "Load URL List From File" on a missing file
    TooManyFilesSelected, // the names chosen in the open dialog did not fit
    SelectJustOneFile,    // several names chosen in the open dialog
    OverwriteQuestion,    // Yes/No before a save replaces a file; names the file
    CopiedToClipboard,    // the results are on the clipboard
    ClipboardInUse,       // the clipboard could not be had
};

// A plain message as a Shell shows it: which one, its text, its style and its title.
struct PlainMessage {
    MessageId id;
    QString text;
    int style;
    QString title;
};

// The "Application Error" dialog: a failing statement of a reporting routine.
struct ApplicationError {
    QString description; // what went wrong; may be empty
    QString routine;     // the routine's qualified name, as QualifiedName() gives it
    int statement;       // the number of the statement that failed

    // The dialog's text: ApplicationErrorText() of the three.
    QString text() const;
};

// The title of every message box and prompt that names none of its own.
const QString& ApplicationTitle();
void SetApplicationTitle(const QString& title);

// The title of the "Application Error" dialog.
QString ApplicationErrorTitle();

// "in Quillmere2021/08/31.<module>.<routine> "
QString QualifiedName(const char* module, const char* routine);

// "Please email screenshot of this message to <support address>"
QString SupportRequest();

// The text of the "Application Error" dialog: description, CR LF, qualified
// name, "at line ", number, CR CR, support request.
QString ApplicationErrorText(const QString& description, const QString& qualifiedName,
                             int statement);

// The text of a plain message; path is the file the overwrite question names.
QString MessageText(MessageId id, const QString& path = {});
// Its style: a question for the overwrite question, a notice for the others.
int MessageStyle(MessageId id);

// Shows a plain message under the application title; returns the answer.
int MsgBox(Shell& shell, MessageId id, const QString& path = {});

// A dialog text as lines for a screen or a terminal: CR LF, CR and LF each end
// one line (a lone CR would otherwise send a terminal's cursor back over the
// line it ends).
QString DisplayText(const QString& text);

// The text cut at maxCharacters with "…" (never half a character); a quoted
// address or line can run to megabytes, and no message needs more.
QString ShortText(const QString& text, qsizetype maxCharacters = 200);

// True for any path the system can examine (folders included); false for an
// empty text, a missing path or a path in a missing folder. Never fails.
bool FileExists(const QString& path);
