#pragma once

#include "base/Failure.h"

#include <QString>
#include <cstdio>
#include <new>
#include <utility>

class Shell;

// Runs the numbered statements of a command handler. A statement that fails is
// reported in the "Application Error" dialog with the handler's qualified name and
// the statement's number; the caller then goes on with its next statement, or
// returns where the routine must end there.
class Statements {
public:
    Statements(Shell& shell, QString qualifiedName);

    // Runs one statement; false when it failed (and was reported).
    template <class F> bool run(int number, F&& statement) {
        return run(number, std::forward<F>(statement), [](const Failure&) { return false; });
    }

    // As run(), but a Failure for which intercept() returns true is handed to it
    // and not reported.
    template <class F, class I> bool run(int number, F&& statement, I&& intercept) {
        m_current = number;
        try {
            statement();
            return true;
        } catch (const Failure& f) {
            if (!intercept(f))
                report(f.description());
        } catch (...) {
            report(DescribeCurrentException());
        }
        return false;
    }

    // Runs a statement that tests a condition: the condition's value, or ifFailed
    // when the statement failed (and was reported). Each caller says which way a
    // failed test goes.
    template <class C> bool test(int number, C&& condition, bool ifFailed) {
        bool value = ifFailed;
        run(number, [&] { value = condition(); });
        return value;
    }

private:
    void report(const QString& description);

    Shell& m_shell;
    QString m_qualifiedName;
    int m_current = 0;
};

// Silent mode: a failing step is skipped without a message. Running out of
// memory is no failure of the step: it goes on to the statement that called it,
// which reports it, for a silent loop that met it at every step would go on for
// ever without a word.
template <class F> void Silently(F&& step) {
    try {
        step();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
    }
}

// For what must never throw (a destructor, the report of a failure, the way out
// of the program): any failure, running out of memory included, is dropped.
template <class F> void WithoutFailing(F&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}

// For entry points from Qt or libcurl that have no failure handling of their own
// (key, double-click and mouse-move handlers, slots, callbacks): nothing may
// escape, and a failure is written to standard error.
template <class F> void IgnoringFailures(const char* where, F&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        try {
            const QByteArray text = DescribeCurrentException().toLocal8Bit();
            std::fprintf(stderr, "orvelle: %s: %s\n", where, text.constData());
        } catch (...) {
        }
    }
}
