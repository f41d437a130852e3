#include "base/Messages.h"
#include "base/Shell.h"
#include "base/Statements.h"
#include "lists/FileToList.h"
#include "window/Form1.h"

namespace {
// The number the open dialog raises when the chosen names do not fit its buffer.
constexpr int TooManyFilesSelected = 20476;
// Read-only box shown and ticked, Explorer look, long names; one name only, and
// it need not exist (a missing file gets "File not found").
constexpr long OpenDialogFlags = 2621441;
} // namespace

void Form1::PushButton5_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton5_Click"));
    QString answer;
    s.run(100, [&] {
        answer =
            m_shell.inputBox(QStringLiteral("Enter website address to add: "), ApplicationTitle());
    });
    if (answer.isEmpty()) // 102
        return;
    s.run(104, [&] { ListView1.Add(answer); });
}

void Form1::AddAddresses(const QStringList& addresses) {
    for (const QString& address : addresses)
        if (!address.isEmpty())
            ListView1.Add(address);
}

void Form1::PushButton13_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton13_Click"));
    bool tooMany = false;
    const auto intercept = [&](const Failure& failure) {
        if (failure.number() != TooManyFilesSelected)
            return false;
        tooMany = true;
        return true;
    };
    // Runs one statement; false when the command must end.
    const auto step = [&](int number, auto&& statement) {
        s.run(number, statement, intercept);
        if (!tooMany)
            return true;
        Silently([&] { MsgBox(m_shell, MessageId::TooManyFilesSelected); });
        return false;
    };

    if (!step(100, [&] { CommonDialog1.FileName = QString(); }))
        return;
    if (!step(102, [&] { CommonDialog1.Flags = OpenDialogFlags; }))
        return;
    if (!step(104, [&] {
            CommonDialog1.DialogTitle =
                QStringLiteral("Add File(s) - Use Ctrl & Shift to select multiple files");
        }))
        return;
    if (!step(106, [&] {
            CommonDialog1.Filter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*");
        }))
        return;
    if (!step(108, [&] { CommonDialog1.ShowOpen(m_shell); }))
        return;
    if (CommonDialog1.FileName.isEmpty()) // 110
        return;
    QStringList parts;
    if (!step(112, [&] { parts = CommonDialog1.FileName.split(QChar(0)); }))
        return;
    if (parts.size() > 1) { // 114
        step(120, [&] { MsgBox(m_shell, MessageId::SelectJustOneFile); });
        return;
    }
    QString path;
    if (!step(116, [&] { path = parts.value(0); }))
        return;
    step(118, [&] { LoadFileToListview(m_shell, ListView1, path); });
}

void Form1::PushButton2_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton2_Click"));
    // Reserved for examples (RFC 2606), so the samples never reach a real site.
    s.run(100, [&] { ListView1.Add(QStringLiteral("www.example.com")); });
    s.run(102, [&] { ListView1.Add(QStringLiteral("www.example.org")); });
}
