#pragma once

#include <QIcon>

// The program's own icon, from the pictures built into it (one per size, so no
// image plugin is needed to show it).
QIcon ApplicationIcon();
