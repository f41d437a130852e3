#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

// Lets the event loop run until condition() holds, for at most timeoutMs
// milliseconds. Returns whether it holds.
template <class Condition> bool WaitUntil(Condition&& condition, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}
