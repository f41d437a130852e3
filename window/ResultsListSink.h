#pragma once

#include "crawl/RunSink.h"

class ListView;
class RunTally;
class Shell;

// The window's sink of a run: each result is appended to the results list and
// shown, and the status tally counts it; every visit goes to the tally and to the
// shell, which may show progress.
class ResultsListSink : public RunSink {
public:
    ResultsListSink(ListView& results, RunTally& tally, Shell& shell);

    void resultListed(const ListedResult& result) override;
    void visitStarted(const QString& address) override;
    void visitEnded(const VisitEnd& visit) override;

private:
    ListView& m_results;
    RunTally& m_tally;
    Shell& m_shell;
};
