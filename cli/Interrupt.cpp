#include "cli/Interrupt.h"

#include <csignal>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_count = 0;
void (*volatile g_lastWish)() = nullptr;

extern "C" void onInterrupt(int) {
    // Only async-signal-safe work here: the flag, and _exit on the second press.
    if (g_count < 2)
        g_count = g_count + 1;
    if (g_count >= 2) {
        if (g_lastWish)
            g_lastWish();
        _exit(Interrupt::ExitStatus);
    }
}

} // namespace

namespace Interrupt {

void install() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // Restart interrupted writes and reads: a Ctrl-C must not turn into a failed
    // write of the results. poll() is never restarted, so waits still wake up.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}

int count() {
    return g_count;
}

void setLastWish(void (*wish)()) {
    g_lastWish = wish;
}

} // namespace Interrupt
