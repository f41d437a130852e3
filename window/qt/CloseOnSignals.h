#pragma once

class QWidget;

// SIGINT, SIGTERM and SIGHUP (Ctrl-C in the terminal that started the window, a
// kill, the end of the session) close the window as its close button does, so
// the program ends the way it always ends and its page folder goes with it.
// A signal handler can do almost nothing, so it only writes to a pipe; the event
// loop reads the pipe and closes the window, also while a run yields.
void CloseOnTerminationSignals(QWidget& window);
