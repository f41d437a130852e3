#pragma once

#include <QtGlobal>

// Where a run's time went, summed over its page visits: for progress reports and
// the benchmarks. Times in nanoseconds.
struct CrawlStats {
    qint64 visits = 0;     // pages attempted
    qint64 downloaded = 0; // pages downloaded and scanned
    qint64 bytes = 0;      // page bytes downloaded
    qint64 downloadNs = 0; // waiting for the network (the page file's share excluded)
    qint64 fileNs = 0;     // creating, writing, reading and deleting the page file
    qint64 scanNs = 0;     // scanning the page and recording its links
};
