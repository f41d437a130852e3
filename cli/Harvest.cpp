#include "cli/Harvest.h"

#include "base/Failure.h"
#include "base/Statements.h"
#include "base/SystemIo.h"
#include "cli/AddressInput.h"
#include "cli/CliShell.h"
#include "cli/HarvestOptions.h"
#include "cli/HarvestSink.h"
#include "cli/HarvestState.h"
#include "cli/Interrupt.h"
#include "cli/ResultOutput.h"
#include "crawl/HarvestRun.h"
#include "crawl/PageFile.h"
#include "export/ResultFile.h"
#include "lists/ListView.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
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
    settings.fileLinks = options.files;
    settings.extractForever = options.extractForever;
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
Written writeResults(CliShell& shell, const HarvestOptions& options, const QString& path,
                     const ListView& results, ResultStream* stream, ResultFile* file,
                     const QByteArray* records) {
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
            (options.toStandardOutput() ? QStringLiteral("to standard output") : path) +
            QStringLiteral(": Out of memory"));
        return Written::Failed;
    }
    if (options.toStandardOutput()) {
        const int error = WriteAll(STDOUT_FILENO, bytes);
        if (error == 0)
            return Written::Yes;
        return standardOutputFailed(shell, error, SystemErrorText(error));
    }
    // No file to write to: why was said when it could not be made.
    if (!file)
        return Written::Failed;
    QString error;
    if (WriteResultsFile(*file, bytes, &error))
        return Written::Yes;
    shell.printError(QStringLiteral("cannot write ") + path + QStringLiteral(": ") + error);
    return Written::Failed;
}

// The run's settings, as the command line gives them.
RunSettings runSettings(const HarvestOptions& options) {
    RunSettings settings;
    DownloadSettings& download = settings.download;
    download.connectTimeoutSeconds = options.connectTimeoutSeconds;
    download.stallSeconds = options.stallTimeoutSeconds;
    download.maxTimeMs = options.maxTimeMs;
    download.maxPageBytes = options.maxPageBytes;
    download.parallel = options.parallel;
    download.perHost = options.perHost;
    download.waitMs = options.waitMs;
    settings.scan = {options.anyQuotes, options.srcset};
    CrawlScope& scope = settings.scope;
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
    settings.maxPages = options.maxPages;
    settings.webAddressesOnly = true;
    return settings;
}

bool isRecordFormat(OutputFormat format) {
    return format == OutputFormat::Jsonl || format == OutputFormat::Csv;
}

// The exit status once the run has ended and its results were written, from the
// Application Errors reported before the writing and in all, and from what the
// run came to. A signal or a reader gone says how the program ended; then a
// failure of the program's own; then a run where no page could be downloaded.
int exitStatus(Written written, int errorsBeforeWriting, int errors, const RunTally& tally) {
    if (written == Written::BrokenPipe)
        return ExitStatus::BrokenPipe;
    if (Interrupt::count() > 0)
        return Interrupt::exitStatus();
    // A failure the program reported (not a failed download) means results may be missing.
    if (written == Written::Failed || errors > errorsBeforeWriting || errors > 0)
        return ExitStatus::OutputFailed;
    if (tally.noPageDownloaded())
        return ExitStatus::NothingDownloaded;
    return ExitStatus::Success;
}

// The results file of an interrupted run, beside the one it would have replaced:
// *path + ".partial". The file at *path is left as it was; the results go to the
// partial one, and *path becomes its name. Null when it cannot be made (said).
std::unique_ptr<ResultFile> openPartial(CliShell& shell, QString* path) {
    const QString partial = *path + QStringLiteral(".partial");
    QString problem;
    std::unique_ptr<ResultFile> file = OpenResultsFile(partial, &problem);
    if (!file) {
        shell.printError(QStringLiteral("cannot write ") + partial + QStringLiteral(": ") +
                         problem + QStringLiteral("; ") + *path +
                         QStringLiteral(" is left as it was"));
        return nullptr;
    }
    rememberUnfinishedOutput(file.get());
    shell.printError(QStringLiteral("interrupted: the results found so far go to ") + partial +
                     QStringLiteral("; ") + *path + QStringLiteral(" is left as it was"));
    *path = partial;
    return file;
}

int harvest(const HarvestOptions& options) {
    CliShell shell(shellSettings(options));
    // The URL list, read as "Load URL List From File" reads it, and the results
    // list the spaced and comma formats are made from (its header heads the
    // spaced format).
    ListView addresses;
    ListView results;
    results.AddColumn(QStringLiteral("Result(s)"));

    QString error;
    std::unique_ptr<RunState> state;
    if (options.exportState && !QFileInfo::exists(options.state)) {
        shell.printError(QStringLiteral("state file ") + options.state +
                         QStringLiteral(" does not exist"));
        return ExitStatus::UsageError;
    }
    // How often the state file is committed, in milliseconds, can be set.
    bool intervalGiven = false;
    const int commitEveryMs =
        qEnvironmentVariableIntValue("ORVELLE_STATE_COMMIT_MS", &intervalGiven);
    if (!options.state.isEmpty() &&
        !(state = RunState::open(options.state, &error,
                                 intervalGiven && commitEveryMs >= 0
                                     ? commitEveryMs
                                     : RunState::DefaultCommitEveryMs))) {
        shell.printError(error);
        return ExitStatus::UsageError;
    }
    if (options.exportState) {
        if (state->listed().isEmpty()) {
            shell.printError(QStringLiteral("state file ") + options.state +
                             QStringLiteral(" holds no run"));
            return ExitStatus::UsageError;
        }
        // Nothing is visited: the results come from the file.
        addresses.Add(QString());
    } else if (!LoadAddresses(options, addresses, &error)) {
        shell.printError(error);
        return ExitStatus::UsageError;
    }
    if (state && !options.exportState &&
        !state->adopt(StateOptions(options), addresses.Texts(), &error)) {
        shell.printError(QStringLiteral("state file ") + options.state +
                         QStringLiteral(" is of another run: ") + error);
        return ExitStatus::UsageError;
    }
    if (state && state->finished() && !options.exportState && !options.quiet)
        shell.printError(QStringLiteral("state file ") + options.state +
                         QStringLiteral(": the run had finished; its results are written again"));
    if (addresses.Count() == 0) {
        printUsageError(QStringLiteral("no addresses given"));
        return ExitStatus::UsageError;
    }
    // The results file is made before the first page is fetched: a long harvest
    // must not be lost to an output that cannot be written.
    std::unique_ptr<ResultFile> file;
    QString path = options.output;
    const bool replacesAFile = !options.toStandardOutput() && QFileInfo(path).isFile();
    if (!options.toStandardOutput()) {
        QString problem;
        file = OpenResultsFile(options.output, &problem);
        if (!file) {
            shell.printError(QStringLiteral("cannot write ") + options.output +
                             QStringLiteral(": ") + problem);
            return ExitStatus::OutputFailed;
        }
    }

    // Lines and records to standard output go out as they are found: a harvest
    // that is killed keeps what it had found up to its last page.
    const bool records = isRecordFormat(options.format);
    std::unique_ptr<ResultStream> stream;
    if ((options.format == OutputFormat::Lines || records) && options.toStandardOutput()) {
        const bool sameTerminal = isatty(STDOUT_FILENO) != 0;
        stream = std::make_unique<ResultStream>(STDOUT_FILENO, [&shell, sameTerminal] {
            if (sameTerminal)
                shell.finish();
        });
        shell.onYield = [&] {
            // Output nobody can receive is no reason to go on harvesting.
            if (!stream->flushIfDue())
                shell.pressStop();
        };
    }
    HarvestSink sink(shell, options.format, stream.get(), results);
    shell.attach(sink.tally());
    std::optional<StateSink> stateSink;
    if (state)
        stateSink.emplace(sink, *state);
    HarvestRun run(shell, stateSink ? static_cast<RunSink&>(*stateSink) : sink);
    run.Settings = runSettings(options);
    run.Record = state.get();

    rememberUnfinishedOutput(file.get());
    Interrupt::setLastWish(removeWhatIsLeftNow);
    Interrupt::install();
    {
        Statements s(shell, HarvestRun::StatementsName());
        sink.tally().start();
        // As the window's run does: what happened before it (Ctrl-C) is looked at.
        s.run(110, [&] { shell.yield(YieldPlace::Run); });
        QStringList listed;
        s.run(112, [&] { listed = addresses.Texts(); });
        addresses.Clear();
        if (options.exportState)
            s.run(120, [&] {
                if (!state->forEachResult([&](const ListedResult& r) { sink.resultListed(r); },
                                          &error))
                    throw Failure(error);
            });
        else
            run.Run(s, listed);
        run.End();
        sink.tally().finish(shell.stopPressed());
    }
    // A run that ended by itself, or at its page limit, is finished; one that was
    // interrupted or failed is resumed.
    const bool finished = Interrupt::count() == 0 && shell.applicationErrors() == 0 &&
                          !(stream && stream->error() != 0);
    const bool stateFailed = state && !options.exportState && !state->close(finished, &error);
    if (stateFailed)
        shell.printError(error);
    shell.onYield = nullptr;
    shell.finish();

    // What an interrupted run found never takes the place of a complete file.
    if (replacesAFile && Interrupt::count() > 0)
        file = openPartial(shell, &path);
    const int errorsBefore = shell.applicationErrors();
    const Written written = writeResults(shell, options, path, results, stream.get(), file.get(),
                                         records && !stream ? &sink.records() : nullptr);
    // In place now, or removed: nothing is left for a signal to remove.
    rememberUnfinishedOutput(nullptr);
    // How the run went, in the words of the window's status line.
    if (!options.quiet)
        shell.printLine(sink.tally().text());
    const int status = exitStatus(written, errorsBefore, shell.applicationErrors(), sink.tally());
    // A run whose state file could not be written cannot be resumed as promised.
    return stateFailed && status == ExitStatus::Success ? ExitStatus::OutputFailed : status;
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
