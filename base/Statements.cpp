#include "base/Statements.h"

#include "base/Messages.h"
#include "base/Shell.h"

Statements::Statements(Shell& shell, QString qualifiedName)
    : m_shell(shell), m_qualifiedName(std::move(qualifiedName)) {}

void Statements::report(const QString& description) {
    // A dialog that cannot be shown leaves nothing more to do for this failure.
    // A description that quotes a value (an address, a line) is cut: a dialog of a
    // megabyte helps nobody.
    WithoutFailing([&] {
        m_shell.applicationError({ShortText(description), m_qualifiedName, m_current});
    });
}
