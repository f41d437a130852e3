#include "app/Form1.h"
#include "app/Messages.h"
#include "app/Shell.h"
#include "app/Statements.h"

void Form1::Form_Load() {
    Statements s(m_shell, QualifiedName("Form1", "Form_Load"));
    s.run(126, [&] { setCaption(LongTitle); });
    s.run(126, [&] { SetApplicationTitle(QStringLiteral("Orvelle")); });
    s.run(128, [&] { ListView1.AddColumn(QStringLiteral("URL(s)")); });
    s.run(130, [&] { ListView1.SetColumnWidth(1, 7000); });
    s.run(132, [&] { ListView2.AddColumn(QStringLiteral("Result(s)")); });
    s.run(134, [&] { ListView2.SetColumnWidth(1, 7000); });
}

void Form1::Form_Unload() {
    m_shell.endProgram();
}
