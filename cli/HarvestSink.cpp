#include "cli/HarvestSink.h"

#include "cli/CliShell.h"
#include "cli/ResultOutput.h"
#include "export/ResultRecord.h"
#include "lists/ListView.h"

HarvestSink::HarvestSink(CliShell& shell, OutputFormat format, ResultStream* stream,
                         ListView& results)
    : m_shell(shell), m_format(format), m_stream(stream), m_results(results) {
    if (format != OutputFormat::Csv)
        return;
    if (m_stream)
        m_stream->add(CsvHeader());
    else
        m_records = CsvHeader();
}

void HarvestSink::resultListed(const ListedResult& result) {
    m_tally.resultListed();
    switch (m_format) {
    case OutputFormat::Jsonl:
    case OutputFormat::Csv: {
        const QByteArray record =
            m_format == OutputFormat::Csv ? CsvRecord(result) : JsonRecord(result);
        if (m_stream)
            m_stream->add(record);
        else
            m_records += record;
        return;
    }
    case OutputFormat::Lines:
        // A line to standard output goes out with the next flush: a harvest that
        // is killed keeps what it had found up to then.
        if (m_stream) {
            m_stream->add(ResultLine(result).toLocal8Bit() + '\n');
            return;
        }
        break;
    case OutputFormat::Spaced:
    case OutputFormat::Comma:
        break;
    }
    m_results.Add(ResultLine(result));
}

void HarvestSink::visitStarted(const QString& address) {
    // The tally first: the progress line reads it.
    m_tally.visitStarted(address);
    m_shell.visitStarted(address);
}

void HarvestSink::visitEnded(const VisitEnd& visit) {
    m_tally.visitEnded(visit);
    if (m_keepVisits)
        m_visits += VisitRecord(visit);
    m_shell.visitEnded(visit);
    // Output nobody can receive is no reason to go on harvesting.
    if (m_stream && !m_stream->flush())
        m_shell.pressStop();
}
