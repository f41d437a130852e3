#pragma once

#include "cli/HarvestOptions.h"
#include "crawl/RunSink.h"
#include "crawl/RunTally.h"

#include <QByteArray>

class CliShell;
class ListView;
class ResultStream;

// The command line's sink of a run: each result becomes a line or a record, into
// standard output as it is found, or kept for the results file; a format made
// from the whole list (spaced, comma) gets the list. Every visit goes to the tally
// and the shell (progress, failure lines, the page limit), and after each one what
// was found is flushed.
class HarvestSink : public RunSink {
public:
    // stream (may be null) is standard output, written as the run goes; results
    // is the list the whole-list formats are made from.
    HarvestSink(CliShell& shell, OutputFormat format, ResultStream* stream, ListView& results);

    RunTally& tally() { return m_tally; }
    // The jsonl or csv records of a run that writes a file, made as it went.
    const QByteArray& records() const { return m_records; }
    // The visit records, made as the run went when asked for.
    void keepVisits() { m_keepVisits = true; }
    const QByteArray& visits() const { return m_visits; }

    void resultListed(const ListedResult& result) override;
    void visitStarted(const QString& address) override;
    void visitEnded(const VisitEnd& visit) override;

private:
    CliShell& m_shell;
    OutputFormat m_format;
    ResultStream* m_stream;
    ListView& m_results;
    RunTally m_tally;
    QByteArray m_records;
    bool m_keepVisits = false;
    QByteArray m_visits;
};
