#pragma once

// Ctrl-C, and the signals that ask a program to end (SIGTERM from kill, timeout
// or a service manager, SIGHUP at the end of a session, SIGQUIT). The first is a
// request to stop that the program polls at its next yield, so the run ends as
// the window's Stop ends it and what was found is written; a second ends the
// program at once. Either way the exit status is 128 + the first signal's number,
// as shells report a program that a signal ended.
//
// SIGPIPE is ignored: a reader of standard output that has gone shows as EPIPE on
// the next write, and the program ends in its own way.
namespace Interrupt {

// Installs the handlers. Until then the signals have their default effect.
void install();
// Signals received since install().
int count();
// 128 + the number of the first of them (SIGINT, SIGTERM, ...).
int exitStatus();
// Run by the handler, before it ends the program, on a second signal; must be
// async-signal-safe (unlink, rmdir, write, ...).
void setLastWish(void (*wish)());

} // namespace Interrupt
