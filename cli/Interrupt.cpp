#include "cli/Interrupt.h"

#include <csignal>
#include <unistd.h>

namespace {

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile std::sig_atomic_t g_count = 0;
volatile std::sig_atomic_t g_first = 0;
void (*volatile g_lastWish)() = nullptr;

extern "C" void onInterrupt(int signal) {
    // Only async-signal-safe work here: the flags, and _exit on the second signal.
    if (g_first == 0)
        g_first = signal;
    if (g_count < 2)
        g_count = g_count + 1;
    if (g_count >= 2) {
        if (g_lastWish)
            g_lastWish();
        _exit(128 + g_first);
    }
}

} // namespace

namespace Interrupt {

void install() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // While one handler runs the others wait, so the count and the first signal
    // are never torn.
    for (const int signal : Signals)
        sigaddset(&action.sa_mask, signal);
    // Restart interrupted writes and reads: a Ctrl-C must not turn into a failed
    // write of the results. poll() is never restarted, so waits still wake up.
    action.sa_flags = SA_RESTART;
    for (const int signal : Signals)
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int count() {
    return g_count;
}

int exitStatus() {
    return 128 + g_first;
}

void setLastWish(void (*wish)()) {
    g_lastWish = wish;
}

} // namespace Interrupt
