#pragma once

// Ctrl-C. The first SIGINT is a request to stop that the program polls at its
// next yield, so the run ends as the window's Stop ends it and what was found is
// written; a second SIGINT ends the program at once with status 130.
namespace Interrupt {

constexpr int ExitStatus = 130; // 128 + SIGINT, as shells report it

// Installs the handler. Until then SIGINT has its default effect.
void install();
// SIGINTs received since install().
int count();
// Run by the handler, before it ends the program, on a second SIGINT; must be
// async-signal-safe (unlink, rmdir, write, ...).
void setLastWish(void (*wish)());

} // namespace Interrupt
