#pragma once

#include "cli/HarvestOptions.h"
#include "crawl/RunSink.h"
#include "crawl/RunTally.h"

#include <QByteArray>

class CliShell;
class LinkCheck;
class AcceptedStatuses;
struct LinkStatus;
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
    // is the list the whole-list formats are made from; checked: the links are
    // checked (the CSV header names the fields of a check).
    HarvestSink(CliShell& shell, OutputFormat format, ResultStream* stream, ListView& results,
                bool checked = false);

    RunTally& tally() { return m_tally; }
    // The jsonl or csv records of a run that writes a file, made as it went.
    const QByteArray& records() const { return m_records; }
    // The visit records, made as the run went when asked for.
    void keepVisits() { m_keepVisits = true; }
    const QByteArray& visits() const { return m_visits; }

    // With --check: each result goes to check, and is written once check tells
    // its status (checked()); accept says which are broken.
    void checkWith(LinkCheck& check, const AcceptedStatuses& accept);
    void checked(const ListedResult& result, const LinkStatus& status);
    qint64 broken() const { return m_broken; }

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
    LinkCheck* m_check = nullptr;
    const AcceptedStatuses* m_accept = nullptr;
    qint64 m_broken = 0;
    bool m_keepVisits = false;
    QByteArray m_visits;
};
