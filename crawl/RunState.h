#pragma once

#include "crawl/LinkCheck.h"
#include "crawl/ListedResult.h"
#include "crawl/VisitRecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A run recorded in a SQLite database, the state file: its options and listed
// addresses, every step in order with its outcome and the links its page had, and
// every result with the step it was found on. A run with the same state file
// takes the recorded steps again without fetching and goes on from the first one
// the file does not hold. The steps are written by a thread of their own, so that
// the run does not wait for the file, in transactions committed every tenth of a
// second (or 10,000 results) while there is something to commit, and at the end;
// only whole steps are committed, so a file of a run killed at any moment resumes
// from its last commit.
//
// The file belongs to one process at a time (an exclusive lock on it, with the
// holder's process id in the file for whoever is refused).
class RunState final : public VisitRecord {
public:
    // The layout of the file; a file of a later one is not opened.
    static constexpr int FormatVersion = 3;
    // "ORVL": what marks the file as this program's (its header's application id).
    static constexpr int ApplicationId = 0x4f52564c;

    // An option of the run that changes its results: a secret one is kept only
    // as its SHA-256 digest.
    struct Option {
        QString name;
        QString value;
        bool secret = false;
    };

    // Opens the state file at path for this process alone, made when it does not
    // exist. Null, with the reason in *error, when it is not this program's state
    // file, of a newer format, damaged or in use; such a file is left as it was.
    // Commits come every commitEveryMs while there is something to commit (0:
    // after every step, before the next begins).
    static std::unique_ptr<RunState> open(const QString& path, QString* error,
                                          qint64 commitEveryMs = DefaultCommitEveryMs);
    static constexpr qint64 DefaultCommitEveryMs = 100;
    ~RunState();
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    // No run was recorded in it yet.
    bool isNew() const { return m_new; }
    // The recorded run ended by itself (or at its page limit).
    bool finished() const { return m_finished; }
    // The steps committed.
    qint64 committedSteps() const { return m_committed; }
    // The listed addresses recorded.
    QStringList listed() const;

    // A new file takes the run's options and list; a recorded one is compared
    // with them: false, with what differs first in *difference, when they do not
    // match (then nothing was written).
    bool adopt(const std::vector<Option>& options, const QStringList& listed, QString* difference);

    // A result of the run, the next in order: kept with the next step (or the
    // next sitemaps read, or the end) unless an earlier run kept it already.
    void resultListed(const ListedResult& result);
    bool replay(qint64 step, RecordedVisit& visit) override;
    void visited(qint64 step, RecordedVisit&& visit) override;
    bool replaySitemaps(qint64 step, SitemapSource::Reading& reading) override;
    void sitemapsRead(qint64 step, qsizetype listed,
                      const SitemapSource::Reading& reading) override;

    // The status a check of link found, kept with the next step (or at the end),
    // and one kept by an earlier run: a link is checked once however often the
    // run is resumed.
    void checked(const QString& link, const LinkStatus& status);
    bool recall(const QString& link, LinkStatus* status) const;

    // Commits what is left; a run that ended whole is marked finished. False,
    // with the reason, when the file could not be written.
    bool close(bool finished, QString* error);

    // Every committed result, in order, with where it was found.
    bool forEachResult(const std::function<void(const ListedResult&)>& each, QString* error);

private:
    // A step as it is written: its row of visits, its links and its results; or
    // the sitemaps read before it, or the results after the last one.
    struct Row {
        qint64 step = 0;
        bool visit = true;
        std::optional<SitemapSource::Reading> sitemaps;
        QString address;
        qint64 listed = 0; // of the visit, or of the sitemaps
        int depth = 0;
        QString outcome;
        QString finalAddress;
        bool redirected = false;
        int status = 0;
        qint64 size = 0;
        QString failure;
        QString contentType;
        QString redirects;
        std::vector<PageLink> links;
        std::vector<ListedResult> results;
        std::vector<std::pair<QString, LinkStatus>> checks;
    };

    RunState() = default;
    bool exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    bool writeRow(const Row& row);
    bool writeSitemaps(const Row& row);
    sqlite3_stmt* sitemapStatement(int which);
    bool readSitemaps(qint64 step, SitemapSource::Reading& reading);
    void enqueue(Row&& row);
    void dropFrom(qint64 step);
    void writeRows();
    void stopWriting();
    void fail(const QString& what);

    QString m_path;
    int m_fd = -1;
    sqlite3* m_db = nullptr;
    bool m_new = false;
    bool m_finished = false;
    qint64 m_committed = 0; // steps in the file when it was opened
    qint64 m_next = 0;      // the next step to write
    bool m_live = false;    // past the recorded steps: new ones are written
    bool m_broken = false;  // a step was left out, or a write failed: nothing more is
    QString m_failure;
    qint64 m_nextResult = 0;              // the writer's position in the results
    qint64 m_storedResults = 0;           // the results in the file when it was opened
    qint64 m_told = 0;                    // the results of this run so far
    QHash<QString, qint64> m_listedIndex; // a listed address's position in the list
    std::vector<ListedResult> m_pending;  // the results not kept yet
    std::vector<std::pair<QString, LinkStatus>> m_pendingChecks;
    QHash<QString, LinkStatus> m_checks; // the checks of earlier runs
    bool writeChecks(const std::vector<std::pair<QString, LinkStatus>>& checks);
    // The writer's UTF-8 of the values bound to the statement it steps, by column.
    QByteArray m_scratch[13];
    qint64 m_uncommittedResults = 0;
    qint64 m_commitEveryMs = 500;
    QElapsedTimer m_sinceCommit;
    // The steps handed to the writing thread, and what it was told.
    std::thread m_writer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Row> m_queue;
    bool m_stop = false;
    std::atomic<bool> m_writeFailed{false};
    sqlite3_stmt* m_readVisit = nullptr;
    sqlite3_stmt* m_readLinks = nullptr;
    sqlite3_stmt* m_writeVisit = nullptr;
    sqlite3_stmt* m_writeLink = nullptr;
    sqlite3_stmt* m_writeResult = nullptr;
    sqlite3_stmt* m_writeCheck = nullptr;
    // Made when first needed: only a run with --sitemaps has use for them.
    sqlite3_stmt* m_writeSitemaps[4] = {};
};
