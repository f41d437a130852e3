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
#include "crawl/LinkCheck.h"
#include "crawl/PageFile.h"
#include "crawl/PageLinks.h"
#include "export/ResultFile.h"
#include "lists/ListView.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <unistd.h>

namespace {

// The temporary files of the unfinished output files (the results, the visits),
// for a second signal to remove on its way out with the page folder. A signal
// handler may not allocate, so the paths are laid down in advance.
char g_unfinishedOutput[2][PATH_MAX];

void removeWhatIsLeftNow() {
    RemovePageFolderFromSignalHandler();
    for (const char* path : g_unfinishedOutput)
        if (path[0] != '\0')
            ::unlink(path);
}

void rememberUnfinishedOutput(int slot, const ResultFile* file) {
    char* kept = g_unfinishedOutput[slot];
    kept[0] = '\0';
    if (!file)
        return;
    const QByteArray path = QFile::encodeName(file->temporaryPath());
    if (path.size() < PATH_MAX)
        std::memcpy(kept, path.constData(), static_cast<size_t>(path.size()) + 1);
}

// A file the run writes, made before the first page is fetched: a long harvest
// must not be lost to an output that cannot be written.
class OutputFile {
public:
    explicit OutputFile(int slot) : m_slot(slot) {}

    // False, said, when path cannot be written.
    bool open(CliShell& shell, const QString& path) {
        m_path = path;
        m_replaces = QFileInfo(path).isFile();
        QString problem;
        m_file = OpenResultsFile(path, &problem);
        if (!m_file)
            shell.printError(QStringLiteral("cannot write ") + path + QStringLiteral(": ") +
                             problem);
        rememberUnfinishedOutput(m_slot, m_file.get());
        return m_file != nullptr;
    }

    // What an interrupted run found never takes the place of a complete file: it
    // goes beside it, to PATH.partial, and the file is left as it was (both said).
    void divertIfInterrupted(CliShell& shell) {
        if (!m_file || !m_replaces || Interrupt::count() == 0)
            return;
        const QString partial = m_path + QStringLiteral(".partial");
        const QString kept = QStringLiteral("; ") + m_path + QStringLiteral(" is left as it was");
        QString problem;
        m_file = OpenResultsFile(partial, &problem);
        rememberUnfinishedOutput(m_slot, m_file.get());
        if (!m_file) {
            shell.printError(QStringLiteral("cannot write ") + partial + QStringLiteral(": ") +
                             problem + kept);
            return;
        }
        shell.printError(QStringLiteral("interrupted: what was found so far goes to ") + partial +
                         kept);
        m_path = partial;
    }

    // Writes bytes and puts the file in place; false, said, on failure (or when
    // there is no file).
    bool write(CliShell& shell, const QByteArray& bytes) {
        QString error;
        const bool written = m_file && WriteResultsFile(*m_file, bytes, &error);
        if (m_file && !written)
            shell.printError(QStringLiteral("cannot write ") + m_path + QStringLiteral(": ") +
                             error);
        // In place now, or removed: nothing is left for a signal to remove.
        rememberUnfinishedOutput(m_slot, nullptr);
        m_file.reset();
        return written;
    }

    const QString& path() const { return m_path; }

private:
    int m_slot;
    QString m_path;
    bool m_replaces = false;
    std::unique_ptr<ResultFile> m_file;
};

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
    settings.maxPages = options.run.maxPages;
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
Written writeResults(CliShell& shell, const HarvestOptions& options, const ListView& results,
                     ResultStream* stream, OutputFile& file, const QByteArray* records) {
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
            (options.toStandardOutput() ? QStringLiteral("to standard output") : file.path()) +
            QStringLiteral(": Out of memory"));
        return Written::Failed;
    }
    if (options.toStandardOutput()) {
        const int error = WriteAll(STDOUT_FILENO, bytes);
        if (error == 0)
            return Written::Yes;
        return standardOutputFailed(shell, error, SystemErrorText(error));
    }
    return file.write(shell, bytes) ? Written::Yes : Written::Failed;
}

// What the requests of the run say of who asks: the headers without a host of
// their own go to the hosts of the listed addresses.
std::shared_ptr<const RequestIdentity> identityOf(const HarvestOptions& options,
                                                  const QStringList& listed) {
    RequestIdentity identity = options.identity;
    QStringList hosts;
    for (const QString& address : listed)
        hosts.append(QUrl(PageAddressOf(address.trimmed())).host().toLower());
    identity.scopeToListed(hosts);
    if (!options.cookieJar.isEmpty())
        identity.answers = std::make_shared<RequestIdentity::Answers>();
    return std::make_shared<const RequestIdentity>(std::move(identity));
}

// The cookie jar, for its owner's eyes only: it holds secrets. False, said, when
// it cannot be written.
bool writeCookieJar(CliShell& shell, const QString& path, const RequestIdentity& identity) {
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                         file.write(identity.cookieJar(QDateTime::currentSecsSinceEpoch())) >= 0 &&
                         file.commit();
    if (!written)
        shell.printError(QStringLiteral("cannot write ") + path + QStringLiteral(": ") +
                         file.errorString());
    return written;
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
    if (options.identity.insecure)
        shell.printError(QStringLiteral("--insecure: no certificate is checked; any server is "
                                        "taken for what it claims to be"));
    // The results file is made before the first page is fetched: a long harvest
    // must not be lost to an output that cannot be written.
    OutputFile file(0);
    if (!options.toStandardOutput() && !file.open(shell, options.output))
        return ExitStatus::OutputFailed;
    OutputFile visits(1);
    if (!options.visits.isEmpty() && !visits.open(shell, options.visits))
        return ExitStatus::OutputFailed;

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
    HarvestSink sink(shell, options.format, stream.get(), results, options.check);
    if (!options.visits.isEmpty())
        sink.keepVisits();
    shell.attach(sink.tally());
    std::optional<StateSink> stateSink;
    if (state)
        stateSink.emplace(sink, *state);
    HarvestRun run(shell, stateSink ? static_cast<RunSink&>(*stateSink) : sink);
    run.Settings = options.run;
    run.Settings.download.identity = identityOf(options, addresses.Texts());
    run.Record = state.get();
    // The links are checked through the run's own transfers, as they are listed.
    std::unique_ptr<LinkCheck> check;
    if (options.check) {
        check = std::make_unique<LinkCheck>(
            run.transfers(), options.run.download, options.run.scope.robots,
            [&sink](const ListedResult& r, const LinkStatus& status) { sink.checked(r, status); });
        sink.checkWith(*check, options.accept);
        // A resumed run asks for no link an earlier one checked.
        if (state) {
            check->recall = [&state](const QString& link, LinkStatus* status) {
                return state->recall(link, status);
            };
            check->remember = [&state](const QString& link, const LinkStatus& status) {
                state->checked(link, status);
            };
        }
    }

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
        if (check && !options.exportState) {
            QStringList visited;
            for (const QString& address : listed)
                visited.append(PageAddressOf(address));
            check->expectVisits(visited);
        }
        if (options.exportState)
            s.run(120, [&] {
                if (!state->forEachResult([&](const ListedResult& r) { sink.resultListed(r); },
                                          &error))
                    throw Failure(error);
            });
        else
            run.Run(s, listed);
        // What was not visited is checked now; only a signal or output nobody
        // receives cuts it short (the page limit does not).
        if (check)
            s.run(140, [&] {
                check->finish(shell, [&] {
                    return Interrupt::count() == 0 && !(stream && stream->error() != 0);
                });
            });
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

    file.divertIfInterrupted(shell);
    visits.divertIfInterrupted(shell);
    const int errorsBefore = shell.applicationErrors();
    Written written = writeResults(shell, options, results, stream.get(), file,
                                   records && !stream ? &sink.records() : nullptr);
    if (!options.visits.isEmpty() && !visits.write(shell, sink.visits()) && written == Written::Yes)
        written = Written::Failed;
    if (!options.cookieJar.isEmpty() && !options.exportState &&
        !writeCookieJar(shell, options.cookieJar, *run.Settings.download.identity) &&
        written == Written::Yes)
        written = Written::Failed;
    // How the run went, in the words of the window's status line.
    if (!options.quiet)
        shell.printLine(
            sink.tally().text() +
            (options.check ? QStringLiteral(", %1 broken").arg(sink.broken()) : QString()));
    const int status = exitStatus(written, errorsBefore, shell.applicationErrors(), sink.tally());
    // A run whose state file could not be written cannot be resumed as promised.
    if (stateFailed && status == ExitStatus::Success)
        return ExitStatus::OutputFailed;
    // A broken link is said last: every other status says more of the run.
    return status == ExitStatus::Success && sink.broken() > 0 ? ExitStatus::BrokenLink : status;
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
