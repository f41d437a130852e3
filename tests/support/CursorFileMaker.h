#pragma once

#include <QByteArray>

// A Windows cursor file (.cur) of one square 32-bit picture in one colour, with
// the given hot spot; type 1 makes it an icon file (.ico) instead.
QByteArray MakeCursorFile(int size, int hotX, int hotY, quint32 argb = 0xff2060c0, int type = 2);
