#pragma once

#include "cli/HarvestOptions.h"
#include "crawl/RunSink.h"
#include "crawl/RunState.h"

#include <vector>

// The options of a command line that change what a run finds, as a state file
// keeps them: a resumed run must give the same. How the pages are fetched (the
// time-outs, --parallel, --per-host, --wait) and how the results are written may
// differ.
std::vector<RunState::Option> StateOptions(const HarvestOptions& options);

// Passes everything a run produces on to the command line's sink, and the results
// to the state file too, for the step being recorded.
class StateSink : public RunSink {
public:
    StateSink(RunSink& sink, RunState& state) : m_sink(sink), m_state(state) {}

    void resultListed(const ListedResult& result) override {
        m_state.resultListed(result);
        m_sink.resultListed(result);
    }
    void visitStarted(const QString& address) override { m_sink.visitStarted(address); }
    void visitEnded(const VisitEnd& visit) override { m_sink.visitEnded(visit); }

private:
    RunSink& m_sink;
    RunState& m_state;
};
