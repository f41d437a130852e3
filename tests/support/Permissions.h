#pragma once

#include <QByteArray>
#include <functional>

// File permissions that hold even for root. The tests may run as root, for whom
// a file of mode 0000 is as readable as any other; a forked child that gives up
// the capabilities which override permission bits (CAP_DAC_OVERRIDE,
// CAP_DAC_READ_SEARCH, CAP_FOWNER) meets them as an ordinary user does.
//
// Runs body in such a child and returns what it returned, or "<child failed>"
// when it crashed or could not give the capabilities up. The child shares
// nothing with the test afterwards: body reports through its result.
QByteArray InChildWithoutFileOverride(const std::function<QByteArray()>& body);

// Gives those capabilities up in this process for good, also for the programs it
// starts (they leave the bounding set, which an exec by root would grant again):
// for a child process about to run a program under test. False when it cannot.
bool DropFileOverride();
