#include "window/ResultsListSink.h"

#include "base/Shell.h"
#include "crawl/RunTally.h"
#include "lists/ListView.h"

ResultsListSink::ResultsListSink(ListView& results, RunTally& tally, Shell& shell)
    : m_results(results), m_tally(tally), m_shell(shell) {}

void ResultsListSink::resultListed(const ListedResult& result) {
    m_results.EnsureVisible(m_results.Add(result.link));
    m_tally.resultListed();
}

void ResultsListSink::visitStarted(const QString& address) {
    // The tally first: a shell that shows progress reads it.
    m_tally.visitStarted(address);
    m_shell.visitStarted(address);
}

void ResultsListSink::visitEnded(const VisitEnd& visit) {
    m_tally.visitEnded(visit);
    m_shell.visitEnded(visit);
}
