#pragma once

#include "cli/HarvestOptions.h"

#include <QString>

class ListView;

// Fills the URL list: the addresses given as arguments, then the lines of each
// URL list file in turn, read by the same reader as "Load URL List From File"
// ("-" is standard input). Empty and blank addresses are left out without a
// word. False, with what went wrong in *error, when a file cannot be read.
bool LoadAddresses(const HarvestOptions& options, ListView& urlList, QString* error);
