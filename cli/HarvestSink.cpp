#include "cli/HarvestSink.h"

#include "cli/CliShell.h"
#include "cli/ResultOutput.h"
#include "crawl/LinkCheck.h"
#include "export/ResultRecord.h"
#include "lists/ListView.h"

HarvestSink::HarvestSink(CliShell& shell, OutputFormat format, ResultStream* stream,
                         ListView& results, bool checked)
    : m_shell(shell), m_format(format), m_stream(stream), m_results(results) {
    if (format != OutputFormat::Csv)
        return;
    const QByteArray header = checked ? CsvCheckedHeader() : CsvHeader();
    if (m_stream)
        m_stream->add(header);
    else
        m_records = header;
}

void HarvestSink::checkWith(LinkCheck& check, const AcceptedStatuses& accept) {
    m_check = &check;
    m_accept = &accept;
}

void HarvestSink::checked(const ListedResult& result, const LinkStatus& status) {
    const bool broken = m_accept->broken(status);
    m_broken += broken ? 1 : 0;
    QByteArray bytes;
    switch (m_format) {
    case OutputFormat::Jsonl:
        bytes = JsonCheckedRecord(result, status, broken);
        break;
    case OutputFormat::Csv:
        bytes = CsvCheckedRecord(result, status, broken);
        break;
    case OutputFormat::Lines:
        // Only what is broken, with where it was found.
        if (!broken)
            return;
        {
            const QString line = QString::number(status.status) + QLatin1Char('\t') + result.link +
                                 QLatin1Char('\t') + result.page;
            if (!m_stream) {
                m_results.Add(line);
                return;
            }
            bytes = line.toLocal8Bit() + '\n';
        }
        break;
    case OutputFormat::Spaced:
    case OutputFormat::Comma:
        return;
    }
    if (m_stream)
        m_stream->add(bytes);
    else
        m_records += bytes;
}

void HarvestSink::resultListed(const ListedResult& result) {
    m_tally.resultListed();
    if (m_check) {
        m_check->resultListed(result);
        return;
    }
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
    if (m_check)
        m_check->visitStarted(address);
}

void HarvestSink::visitEnded(const VisitEnd& visit) {
    m_tally.visitEnded(visit);
    if (m_keepVisits)
        m_visits += VisitRecord(visit);
    m_shell.visitEnded(visit);
    if (m_check)
        m_check->visitEnded(visit);
    // Output nobody can receive is no reason to go on harvesting.
    if (m_stream && !m_stream->flush())
        m_shell.pressStop();
}
