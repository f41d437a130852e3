#include "cli/Harvest.h"

#include "base/Failure.h"
#include "base/SystemIo.h"
#include "cli/AddressInput.h"
#include "cli/CliShell.h"
#include "cli/HarvestOptions.h"
#include "cli/Interrupt.h"
#include "cli/ResultOutput.h"
#include "crawl/PageFile.h"
#include "export/ResultFile.h"
#include "export/ResultRecord.h"
#include "window/Form1.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

namespace {

// The temporary file of an unfinished results file, for a second signal to
// remove on its way out with the page folder. A signal handler may not allocate,
// so the path is laid down in advance.
char g_unfinishedOutput[PATH_MAX];

void removeWhatIsLeftNow() {
    RemovePageFolderFromSignalHandler();
    if (g_unfinishedOutput[0] != '\0')
        ::unlink(g_unfinishedOutput);
}

void rememberUnfinishedOutput(const ResultFile* file) {
    g_unfinishedOutput[0] = '\0';
    if (!file)
        return;
    const QByteArray path = QFile::encodeName(file->temporaryPath());
    if (path.size() < PATH_MAX)
        std::memcpy(g_unfinishedOutput, path.constData(), static_cast<size_t>(path.size()) + 1);
}

void printUsageError(const QString& text) {
    WriteAll(STDERR_FILENO,
             (QStringLiteral("orvelle-harvest: ") + text +
              QStringLiteral("\nTry 'orvelle-harvest --help' for more information.\n"))
                 .toLocal8Bit());
}

CliShell::Settings shellSettings(const HarvestOptions& options) {
    CliShell::Settings settings;
    settings.progress = !options.quiet && isatty(STDERR_FILENO);
    settings.visitMessages = !options.quiet;
    settings.maxPages = options.maxPages;
    return settings;
}

// What became of the results.
enum class Written { Yes, Failed, BrokenPipe };

// A write to standard output that failed: a reader that has gone (EPIPE) ends the
// run quietly, as SIGPIPE would; anything else is said.
Written standardOutputFailed(CliShell& shell, int error, const QString& reason) {
    if (error == EPIPE)
        return Written::BrokenPipe;
    shell.printError(QStringLiteral("cannot write to standard output: ") + reason);
    return Written::Failed;
}

// Writes the results when the run has ended: what the stream still holds, or the
// whole list in the chosen format. The reason of a failure is printed.
Written writeResults(CliShell& shell, const HarvestOptions& options, const ListView& results,
                     ResultStream* stream, ResultFile* file, const QByteArray* records) {
    if (stream) {
        if (stream->flush())
            return Written::Yes;
        return standardOutputFailed(shell, stream->error(), stream->failure());
    }
    QByteArray bytes;
    try {
        bytes = records ? *records : RenderResults(options.format, results);
    } catch (const std::bad_alloc&) {
        shell.printError(
            QStringLiteral("cannot write ") +
            (options.toStandardOutput() ? QStringLiteral("to standard output") : options.output) +
            QStringLiteral(": Out of memory"));
        return Written::Failed;
    }
    if (options.toStandardOutput()) {
        const int error = WriteAll(STDOUT_FILENO, bytes);
        if (error == 0)
            return Written::Yes;
        return standardOutputFailed(shell, error, SystemErrorText(error));
    }
    QString error;
    if (WriteResultsFile(*file, bytes, &error))
        return Written::Yes;
    shell.printError(QStringLiteral("cannot write ") + options.output + QStringLiteral(": ") +
                     error);
    return Written::Failed;
}

// The stream took each result as a line when it was listed: the list need not
// keep it, and a run that lists millions holds only those since the last yield.
void dropStreamed(ListView& results) {
    if (results.Count() > 0)
        results.Clear();
}

// The window's options and the download settings, as the command line gives them.
void applySettings(Form1& form, const HarvestOptions& options) {
    form.setOption2(options.files);
    form.setCheck2(options.extractForever ? 1 : 0);
    DownloadSettings& download = form.extractLinks().Download;
    download.connectTimeoutMs = options.connectTimeoutSeconds * qint64(1000);
    download.stallMs = options.stallTimeoutSeconds * qint64(1000);
    download.maxTimeMs = options.maxTimeMs;
    download.maxPageBytes = options.maxPageBytes;
    download.parallel = options.parallel;
    download.perHost = options.perHost;
    form.extractLinks().Scan = {options.anyQuotes, options.srcset};
    download.waitMs = options.waitMs;
    download.retries = options.retries;
    download.maxRetryWaitSeconds = options.maxRetryWaitSeconds;
    CrawlScope& scope = form.extractLinks().Scope;
    scope.hosts = options.sameHost   ? CrawlScope::Hosts::SameHost
                  : options.sameSite ? CrawlScope::Hosts::SameSite
                                     : CrawlScope::Hosts::Any;
    for (const QString& pattern : options.include)
        scope.include.append(QRegularExpression(pattern));
    for (const QString& pattern : options.exclude)
        scope.exclude.append(QRegularExpression(pattern));
    scope.match = QRegularExpression(options.match);
    scope.maxDepth = options.depth;
    scope.robots = options.robots;
}

bool isRecordFormat(OutputFormat format) {
    return format == OutputFormat::Jsonl || format == OutputFormat::Csv;
}

// The exit status once the run has ended and its results were written, from the
// Application Errors reported before the writing and in all.
int exitStatus(Written written, int errorsBeforeWriting, int errors) {
    if (written == Written::BrokenPipe)
        return ExitStatus::BrokenPipe;
    if (written == Written::Failed || errors > errorsBeforeWriting)
        return ExitStatus::OutputFailed;
    if (Interrupt::count() > 0)
        return Interrupt::exitStatus();
    // A failure the program reported (not a failed download) means results may be missing.
    if (errors > 0)
        return ExitStatus::OutputFailed;
    return ExitStatus::Success;
}

// The jsonl and csv records of each result as it is listed: into the stream, or
// into bytes written when the run ends.
void recordWhereFound(Form1& form, OutputFormat format, ResultStream* stream, QByteArray& bytes) {
    const bool csv = format == OutputFormat::Csv;
    if (csv && stream)
        stream->add(CsvHeader());
    else if (csv)
        bytes = CsvHeader();
    form.extractLinks().onResultListed = [stream, &bytes, csv](const ListedResult& result) {
        const QByteArray record = csv ? CsvRecord(result) : JsonRecord(result);
        if (stream)
            stream->add(record);
        else
            bytes += record;
    };
}

int harvest(const HarvestOptions& options) {
    CliShell shell(shellSettings(options));
    Form1 form(shell);
    shell.attach(form);
    // Not the window's start-up (Form_Load): its skin, pointer and caption mean
    // nothing here, and a cursor file beside the program must not fail a harvest.
    // The lists get their columns; the results' header heads the spaced format.
    form.ListView1.AddColumn(QStringLiteral("URL(s)"));
    form.ListView2.AddColumn(QStringLiteral("Result(s)"));

    QString error;
    if (!LoadAddresses(options, form.ListView1, &error)) {
        shell.printError(error);
        return ExitStatus::UsageError;
    }
    if (form.ListView1.Count() == 0) {
        printUsageError(QStringLiteral("no addresses given"));
        return ExitStatus::UsageError;
    }
    // The results file is made before the first page is fetched: a long harvest
    // must not be lost to an output that cannot be written.
    std::unique_ptr<ResultFile> file;
    if (!options.toStandardOutput()) {
        QString problem;
        file = OpenResultsFile(options.output, &problem);
        if (!file) {
            shell.printError(QStringLiteral("cannot write ") + options.output +
                             QStringLiteral(": ") + problem);
            return ExitStatus::OutputFailed;
        }
    }

    applySettings(form, options);

    // Lines to standard output go out as they are found: a harvest that is killed
    // keeps what it had found up to its last page.
    // So do records of where each result was found, made as it is listed.
    const bool records = isRecordFormat(options.format);
    std::unique_ptr<ResultStream> stream;
    if ((options.format == OutputFormat::Lines || records) && options.toStandardOutput()) {
        const bool sameTerminal = isatty(STDOUT_FILENO) != 0;
        stream = std::make_unique<ResultStream>(records ? nullptr : &form.ListView2, STDOUT_FILENO,
                                                [&shell, sameTerminal] {
                                                    if (sameTerminal)
                                                        shell.finish();
                                                });
        shell.onYield = [&] {
            // Output nobody can receive is no reason to go on harvesting.
            if (!stream->flushIfDue())
                shell.pressStop();
            dropStreamed(form.ListView2);
        };
    }
    QByteArray recordBytes; // for a file, written when the run ends
    if (records)
        recordWhereFound(form, options.format, stream.get(), recordBytes);
    shell.onVisitEnded = [&] {
        if (!stream)
            return;
        if (!stream->flush())
            shell.pressStop();
        dropStreamed(form.ListView2);
    };

    rememberUnfinishedOutput(file.get());
    Interrupt::setLastWish(removeWhatIsLeftNow);
    Interrupt::install();
    form.PushButton7_Click();
    shell.onVisitEnded = nullptr;
    shell.onYield = nullptr;
    form.extractLinks().onResultListed = nullptr;
    shell.finish();

    const int errorsBefore = shell.applicationErrors();
    const Written written = writeResults(shell, options, form.ListView2, stream.get(), file.get(),
                                         records && !stream ? &recordBytes : nullptr);
    // In place now, or removed: nothing is left for a signal to remove.
    rememberUnfinishedOutput(nullptr);
    return exitStatus(written, errorsBefore, shell.applicationErrors());
}

} // namespace

int RunHarvest(const QStringList& arguments) {
    const ParsedCommandLine commandLine = ParseCommandLine(arguments);
    switch (commandLine.action) {
    case ParsedCommandLine::Action::Help:
    case ParsedCommandLine::Action::Version:
        return WriteAll(STDOUT_FILENO, commandLine.text.toLocal8Bit()) == 0
                   ? ExitStatus::Success
                   : ExitStatus::OutputFailed;
    case ParsedCommandLine::Action::UsageError:
        printUsageError(commandLine.text);
        return ExitStatus::UsageError;
    case ParsedCommandLine::Action::Run:
        break;
    }
    return harvest(commandLine.options);
}
