#include "app/Statements.h"

#include "app/Messages.h"
#include "app/Shell.h"
#include "crawl/RunTally.h"

Statements::Statements(Shell& shell, QString qualifiedName)
    : m_shell(shell), m_qualifiedName(std::move(qualifiedName)) {}

void Statements::report(const QString& description) {
    // A dialog that cannot be shown leaves nothing more to do for this failure.
    // A description that quotes a value (an address, a line) is cut: a dialog of a
    // megabyte helps nobody.
    WithoutFailing([&] {
        m_shell.applicationError({RunTally::shortAddress(description), m_qualifiedName, m_current});
    });
}
