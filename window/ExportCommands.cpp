#include "base/Messages.h"
#include "base/Statements.h"
#include "export/ClipboardCopy.h"
#include "export/SaveComma.h"
#include "export/SaveList.h"
#include "window/Form1.h"

namespace {
using ExportRoutine = void (*)(Shell&, const ListView&, const QString&);

// Read-only box shown and ticked, several names allowed, Explorer look, long names.
constexpr long SaveDialogFlags = 2621953;

// "Save Results As Text File" and "Save As Comma Delimited" differ only in the
// routine that writes the file.
void SaveResults(Form1& form, const char* handler, ExportRoutine exportRoutine) {
    Shell& shell = form.shell();
    CommonDialog& dialog = form.CommonDialog1;
    Statements s(shell, QualifiedName("Form1", handler));
    s.run(106, [&] { dialog.FileName = QString(); });
    s.run(108, [&] { dialog.Flags = SaveDialogFlags; });
    s.run(110, [&] { dialog.DialogTitle = QStringLiteral("Save"); });
    s.run(112,
          [&] { dialog.Filter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"); });
    s.run(114, [&] { dialog.ShowSave(shell); });
    QString chosen;
    s.run(116, [&] { chosen = dialog.FileName; });
    if (chosen.isEmpty()) // 118
        return;
    bool exists = false;
    s.run(120, [&] { exists = FileExists(chosen); });
    int answer = 0;
    if (exists)
        s.run(122, [&] { answer = MsgBox(shell, MessageId::OverwriteQuestion, chosen); });
    else
        answer = MsgAnswer::Yes;  // 124
    if (answer != MsgAnswer::Yes) // 126
        return;
    s.run(128, [&] { form.setMousePointer(Form1::PointerHourglass); });
    s.run(130, [&] { exportRoutine(shell, form.ListView2, chosen); });
    s.run(132, [&] { form.setMousePointer(Form1::PointerDefault); });
}
} // namespace

void Form1::PushButton6_Click() {
    SaveResults(*this, "PushButton6_Click", SaveListviewProperlySpaced);
}

void Form1::PushButton1_Click() {
    SaveResults(*this, "PushButton1_Click", SaveListviewAsCommaDelimToFile);
}

void Form1::PushButton3_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton3_Click"));
    enum class Outcome { Failed, Copied, Busy } outcome = Outcome::Failed;
    s.run(106, [&] {
        outcome = CopyListviewToClipboard(m_shell, ListView2) ? Outcome::Copied : Outcome::Busy;
    });
    // Only a copy that took place is announced; a failure inside the copy was
    // reported at 106 already.
    s.run(108, [&] {
        if (outcome == Outcome::Copied)
            MsgBox(m_shell, MessageId::CopiedToClipboard);
        else if (outcome == Outcome::Busy)
            MsgBox(m_shell, MessageId::ClipboardInUse);
    });
}
