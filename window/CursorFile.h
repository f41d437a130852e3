#pragma once

#include <QString>

// What a Windows cursor (.cur) or icon (.ico) file says about its first image:
// its size and the hot spot, the pixel of the picture that points.
struct CursorFileInfo {
    int width = 0;
    int height = 0;
    int hotX = 0;
    int hotY = 0;
};

// Reads and checks the directory of a cursor or icon file, without decoding the
// picture. Throws Failure: "Invalid picture" (481) when the file is no such
// picture or is cut short, the platform's text when it cannot be read.
CursorFileInfo ReadCursorFile(const QString& path);
