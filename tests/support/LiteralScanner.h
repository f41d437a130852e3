#pragma once

#include "crawl/LinkScanner.h"

// The link scanner written the plain way, one position at a time: at every
// position the six bytes from there, lower-cased, are compared with the href
// pattern and their first five with the src pattern. Slow and obviously right;
// the tests hold the fast scanner to it and the benchmark measures against it.
// False when the sink ended the scan.
bool LiteralScan(const char* data, qsizetype length, LinkSink& sink);
