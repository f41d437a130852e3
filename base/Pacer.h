#pragma once

#include "base/Shell.h"

#include <QtGlobal>

// Paced yielding for long loops: instead of a turn of the event loop at every
// byte, cell or character, a loop calls step() at each unit of work and the pacer
// yields once about 10 ms of work have passed. Events are still handled within a
// few milliseconds, at a tiny fraction of the cost. When the shell asks for it
// (tests acting at a precise point) every step yields.
//
// step() returns true when it yielded: the caller tests its run flag then.
class Pacer {
public:
    Pacer(Shell& shell, YieldPlace place);

    bool step() {
        if (m_everyStep) {
            yieldNow();
            return true;
        }
        if (--m_countdown > 0)
            return false;
        return checkClock();
    }

    // Yields at once, whatever the time since the last yield.
    void yieldNow();

    static constexpr qint64 IntervalNs = 10'000'000;

private:
    bool checkClock();

    Shell& m_shell;
    YieldPlace m_place;
    bool m_everyStep;
    int m_countdown;
    qint64 m_startNs; // on the steady clock
};
