#pragma once

#include <QStringList>

// Programs that the tests run as a separate process of the test program, for
// what ends a process: the real window with the real shell.
//   --child-close-in-loop MARKER   closes the window while a long command yields
//   --child-close-during-run MARKER URL   closes the window during an "Extract forever" run
//   --child-run-until-signal MARKER URL   runs it until a signal closes the window
// The clean-up removes the page folder and writes MARKER before the process ends.
constexpr const char* CloseInLoop = "--child-close-in-loop";
constexpr const char* CloseDuringRun = "--child-close-during-run";
constexpr const char* RunUntilSignal = "--child-run-until-signal";

// Runs the child program named by the arguments; -1 when they name none.
int RunChildProgram(int argc, char** argv);
