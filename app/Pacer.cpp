#include "app/Pacer.h"

namespace {
// Steps between two looks at the clock; a look costs about as much as a cheap step.
constexpr int StepsPerClockCheck = 64;
} // namespace

Pacer::Pacer(Shell& shell, YieldPlace place)
    : m_shell(shell), m_place(place), m_everyStep(shell.yieldsEveryStep()),
      m_countdown(StepsPerClockCheck) {
    m_timer.start();
}

void Pacer::yieldNow() {
    m_shell.yield(m_place);
    m_timer.restart();
    m_countdown = StepsPerClockCheck;
}

bool Pacer::checkClock() {
    m_countdown = StepsPerClockCheck;
    if (m_timer.nsecsElapsed() < IntervalNs)
        return false;
    yieldNow();
    return true;
}
