#pragma once

#include "base/Shell.h"
#include "crawl/ListedResult.h"

#include <QString>

// Where everything a run produces goes, as it happens: every result it lists, with
// where it was found, and every visit as it starts and ends. The window's sink
// fills the results list and the status tally; the command line's writes records.
class RunSink {
public:
    virtual void resultListed(const ListedResult& result) = 0;
    virtual void visitStarted(const QString& address) = 0;
    virtual void visitEnded(const VisitEnd& visit) = 0;

protected:
    ~RunSink() = default;
};
