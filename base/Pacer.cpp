#include "base/Pacer.h"

#include <algorithm>
#include <chrono>

namespace {
// Steps between two looks at the clock; a look costs about as much as a cheap step.
constexpr int StepsPerClockCheck = 64;

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// When any pacer last gave the event loop its turn. Loops nested in one another
// (the scan, and the value reader at each link) pace themselves together: each
// on its own clock would count the other's turns as its own work, and once a turn
// takes longer than the interval (a window with a long list to lay out) they
// would yield at every look at the clock, one after the other.
qint64 g_lastYieldNs = 0;
} // namespace

Pacer::Pacer(Shell& shell, YieldPlace place)
    : m_shell(shell), m_place(place), m_everyStep(shell.yieldsEveryStep()),
      m_countdown(StepsPerClockCheck), m_startNs(nowNs()) {}

void Pacer::yieldNow() {
    m_shell.yield(m_place);
    g_lastYieldNs = nowNs();
    m_countdown = StepsPerClockCheck;
}

bool Pacer::checkClock() {
    m_countdown = StepsPerClockCheck;
    // Its own yields are the last yield too: the work since the later of its
    // start and the last yield of any pacer.
    if (nowNs() - std::max(m_startNs, g_lastYieldNs) < IntervalNs)
        return false;
    yieldNow();
    return true;
}
