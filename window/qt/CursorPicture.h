#pragma once

#include <QCursor>
#include <QString>
#include <optional>

// A Windows cursor file as a pointer, with the hot spot its file gives; nothing
// when the file cannot be read or decoded.
std::optional<QCursor> LoadCursorPicture(const QString& path);
