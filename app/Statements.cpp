#include "app/Statements.h"

#include "app/Messages.h"
#include "app/Shell.h"

Statements::Statements(Shell& shell, QString qualifiedName)
    : m_shell(shell), m_qualifiedName(std::move(qualifiedName)) {}

void Statements::report(const QString& description) {
    // A dialog that cannot be shown leaves nothing more to do for this failure.
    try {
        m_shell.applicationError({description, m_qualifiedName, m_current});
    } catch (...) {
    }
}
