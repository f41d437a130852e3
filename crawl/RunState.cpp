#include "crawl/RunState.h"

#include <QCryptographicHash>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The tables of format version 3 (version 1 had no content_type and redirects of
// the visits and no checks; version 2 no sitemaps: opening such a file adds them). The queue and
// the links seen by the crawl are not kept: they are rebuilt from the links of the steps as the run
// takes them again.
const char* const Schema = R"(
CREATE TABLE run (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE options (position INTEGER PRIMARY KEY, name TEXT NOT NULL, value TEXT NOT NULL,
                      secret INTEGER NOT NULL);
CREATE TABLE listed (position INTEGER PRIMARY KEY, address TEXT NOT NULL);
CREATE TABLE visits (step INTEGER PRIMARY KEY, address TEXT NOT NULL, listed INTEGER NOT NULL,
                     depth INTEGER NOT NULL, outcome TEXT NOT NULL, final_address TEXT NOT NULL,
                     redirected INTEGER NOT NULL, status INTEGER NOT NULL, size INTEGER NOT NULL,
                     failure TEXT NOT NULL, content_type TEXT NOT NULL DEFAULT '',
                     redirects TEXT NOT NULL DEFAULT '');
CREATE TABLE links (step INTEGER NOT NULL, position INTEGER NOT NULL, link TEXT NOT NULL,
                    kind TEXT NOT NULL, visitable INTEGER NOT NULL,
                    PRIMARY KEY (step, position)) WITHOUT ROWID;
CREATE TABLE results (position INTEGER PRIMARY KEY, value TEXT NOT NULL, kind TEXT NOT NULL,
                      step INTEGER NOT NULL);
)";

// The status each check of a link found (version 2 added it).
const char* const ChecksTable = R"(
CREATE TABLE IF NOT EXISTS checks (link TEXT PRIMARY KEY, status INTEGER NOT NULL,
                                   final TEXT NOT NULL, redirects TEXT NOT NULL,
                                   error TEXT NOT NULL, checked INTEGER NOT NULL);
)";

// What the sitemaps of a site came to, read before a step, and where each result
// they gave was found (version 3 added them): a run without sitemaps pays nothing.
const char* const SitemapTables = R"(
CREATE TABLE IF NOT EXISTS sitemaps (step INTEGER PRIMARY KEY, listed INTEGER NOT NULL,
                                     found INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sitemap_pages (step INTEGER NOT NULL, position INTEGER NOT NULL,
                                          address TEXT NOT NULL, sitemap TEXT NOT NULL,
                                          PRIMARY KEY (step, position)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS sitemap_failures (step INTEGER NOT NULL, position INTEGER NOT NULL,
                                             address TEXT NOT NULL, status INTEGER NOT NULL,
                                             failure TEXT NOT NULL,
                                             PRIMARY KEY (step, position)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS sitemap_results (position INTEGER PRIMARY KEY, page TEXT NOT NULL,
                                            listed INTEGER NOT NULL, depth INTEGER NOT NULL);
)";

constexpr qint64 CommitEveryResults = 10000;
// Steps waiting to be written that wake the writer before its time.
constexpr size_t QueuedRows = 4096;

QString text(sqlite3_stmt* statement, int column) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column)) : QString();
}

void bind(sqlite3_stmt* statement, int index, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
}

// The same through scratch, which must outlive the statement's next step: what a
// run stores is nearly all ASCII, copied here without an allocation once the
// buffer has grown.
void bind(sqlite3_stmt* statement, int index, const QString& value, QByteArray& scratch) {
    const qsizetype size = value.size();
    const char16_t* in = reinterpret_cast<const char16_t*>(value.constData());
    // Two simple loops, which the compiler makes vector code of.
    char16_t seen = 0;
    for (qsizetype i = 0; i < size; ++i)
        seen |= in[i];
    if (seen < 0x80) {
        scratch.resize(size);
        char* out = scratch.data();
        for (qsizetype i = 0; i < size; ++i)
            out[i] = static_cast<char>(in[i]);
    } else {
        scratch = value.toUtf8();
    }
    sqlite3_bind_text(statement, index, scratch.constData(), static_cast<int>(scratch.size()),
                      SQLITE_STATIC);
}

// A name that lives as long as the program.
void bind(sqlite3_stmt* statement, int index, QLatin1String name) {
    sqlite3_bind_text(statement, index, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
}

bool stepDone(sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return rc == SQLITE_DONE;
}

// The names the file gives kinds, sources and outcomes are those of the outputs
// and of the visits table; each is read back by the function that names it.
LinkKind kindOf(const QString& name) {
    for (const LinkKind kind : {LinkKind::Src, LinkKind::Srcset})
        if (name == LinkKindName(kind))
            return kind;
    return LinkKind::Href;
}

// Where a result of the results table comes from, by its kind (ResultKindName).
ResultSource sourceOf(const QString& kind) {
    for (const ResultSource source :
         {ResultSource::Sitemap, ResultSource::SitemapOnly, ResultSource::Unlisted}) {
        ListedResult result;
        result.source = source;
        if (kind == ResultKindName(result))
            return source;
    }
    return ResultSource::Page;
}

QLatin1String outcomeName(DownloadOutcome outcome) {
    switch (outcome) {
    case DownloadOutcome::Downloaded:
        return QLatin1String("downloaded");
    case DownloadOutcome::HttpError:
        return QLatin1String("http error");
    case DownloadOutcome::TooLarge:
        return QLatin1String("too large");
    case DownloadOutcome::Stopped:
    case DownloadOutcome::NetworkError:
    case DownloadOutcome::LocalError:
        break;
    }
    return QLatin1String("failed");
}

QString outcomeName(const RecordedVisit& visit) {
    return visit.allowed ? QString(outcomeName(visit.page.download.outcome))
                         : QStringLiteral("disallowed");
}

// Every failure reads back as a network error: its reason is kept on its own.
DownloadOutcome outcomeOf(const QString& name) {
    for (const DownloadOutcome outcome :
         {DownloadOutcome::Downloaded, DownloadOutcome::HttpError, DownloadOutcome::TooLarge})
        if (name == outcomeName(outcome))
            return outcome;
    return DownloadOutcome::NetworkError;
}

// The hops of a redirect as the visits table keeps them: a line each, the status,
// a blank and the address it led to.
QString hopsText(const QVector<RedirectHop>& hops) {
    QString text;
    for (const RedirectHop& hop : hops) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QString::number(hop.status) + QLatin1Char(' ') + hop.address;
    }
    return text;
}

QVector<RedirectHop> hopsOf(const QString& text) {
    QVector<RedirectHop> hops;
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        hops.push_back({line.left(blank).toInt(), line.mid(blank + 1).toString()});
    }
    return hops;
}

QString digest(const QString& value) {
    return QString::fromLatin1(
        QCryptographicHash::hash(value.toUtf8(), QCryptographicHash::Sha256).toHex());
}

// The process id the holder of the file wrote into it, or 0.
qint64 holderOf(const QByteArray& path) {
    sqlite3* db = nullptr;
    qint64 pid = 0;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 200);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT value FROM run WHERE key = 'pid'", -1, &statement,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            pid = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return pid;
}

} // namespace

std::unique_ptr<RunState> RunState::open(const QString& path, QString* error,
                                         qint64 commitEveryMs) {
    const QString named = QStringLiteral("state file ") + path;
    const QByteArray encoded = QFile::encodeName(path);
    std::unique_ptr<RunState> state(new RunState);
    state->m_path = path;
    state->m_commitEveryMs = commitEveryMs;
    state->m_fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (state->m_fd < 0) {
        *error = QStringLiteral("cannot open ") + named + QStringLiteral(": ") +
                 QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    // The lock is on the file itself; SQLite's own locks are of another kind and
    // do not meet it.
    if (::flock(state->m_fd, LOCK_EX | LOCK_NB) != 0) {
        const qint64 pid = holderOf(encoded);
        *error = named + QStringLiteral(" is in use by ") +
                 (pid > 0 ? QStringLiteral("process ") + QString::number(pid)
                          : QStringLiteral("another process"));
        return nullptr;
    }
    struct stat info {};
    if (::fstat(state->m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = named + QStringLiteral(" is not a regular file");
        return nullptr;
    }
    state->m_new = info.st_size == 0;
    if (!state->m_new) {
        // Nothing but the header is read before the file is known to be one.
        char header[16] = {};
        if (::pread(state->m_fd, header, sizeof header, 0) != sizeof header ||
            std::memcmp(header, "SQLite format 3", 16) != 0) {
            *error = named + QStringLiteral(" is not an Orvelle state database");
            return nullptr;
        }
    }
    if (sqlite3_open_v2(encoded.constData(), &state->m_db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        *error = QStringLiteral("cannot open ") + named + QStringLiteral(": ") +
                 QString::fromUtf8(sqlite3_errmsg(state->m_db));
        return nullptr;
    }
    sqlite3_extended_result_codes(state->m_db, 1);
    const auto number = [&](const char* sql, qint64* value) {
        sqlite3_stmt* statement = state->prepare(sql);
        const bool ok = statement && sqlite3_step(statement) == SQLITE_ROW;
        if (ok)
            *value = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return ok;
    };
    if (!state->m_new) {
        qint64 id = 0;
        qint64 version = 0;
        if (!number("PRAGMA application_id", &id) || !number("PRAGMA user_version", &version)) {
            *error = named + QStringLiteral(" is damaged: ") +
                     QString::fromUtf8(sqlite3_errmsg(state->m_db));
            return nullptr;
        }
        if (id != ApplicationId) {
            *error = named + QStringLiteral(" is not an Orvelle state database");
            return nullptr;
        }
        if (version > FormatVersion) {
            *error = named + QStringLiteral(" is of format version ") + QString::number(version) +
                     QStringLiteral(", newer than this program's (") +
                     QString::number(FormatVersion) + QStringLiteral(")");
            return nullptr;
        }
        sqlite3_stmt* check = state->prepare("PRAGMA quick_check(1)");
        const bool sound =
            check && sqlite3_step(check) == SQLITE_ROW && text(check, 0) == QLatin1String("ok");
        const QString problem = check && sqlite3_column_type(check, 0) == SQLITE_TEXT
                                    ? text(check, 0)
                                    : QString::fromUtf8(sqlite3_errmsg(state->m_db));
        sqlite3_finalize(check);
        if (!sound) {
            *error = named + QStringLiteral(" is damaged: ") + problem;
            return nullptr;
        }
    }
    // A file of an earlier format version gains what the later ones added.
    qint64 version = FormatVersion;
    if (!state->m_new && number("PRAGMA user_version", &version) && version < FormatVersion &&
        !(state->exec("BEGIN IMMEDIATE") &&
          (version > 1 ||
           (state->exec("ALTER TABLE visits ADD COLUMN content_type TEXT NOT NULL DEFAULT ''") &&
            state->exec("ALTER TABLE visits ADD COLUMN redirects TEXT NOT NULL DEFAULT ''") &&
            state->exec(ChecksTable))) &&
          state->exec(SitemapTables) &&
          state->exec(("PRAGMA user_version = " + std::to_string(FormatVersion)).c_str()) &&
          state->exec("COMMIT"))) {
        *error = QStringLiteral("cannot update ") + named + QStringLiteral(": ") +
                 QString::fromUtf8(sqlite3_errmsg(state->m_db));
        return nullptr;
    }
    // WAL with NORMAL syncing: a killed process loses nothing committed, a power
    // cut at most the last commits, and the file stays whole either way.
    if (!state->exec("PRAGMA journal_mode = WAL") || !state->exec("PRAGMA synchronous = NORMAL")) {
        *error = QStringLiteral("cannot open ") + named + QStringLiteral(": ") +
                 QString::fromUtf8(sqlite3_errmsg(state->m_db));
        return nullptr;
    }
    bool ok = true;
    if (state->m_new)
        ok = state->exec("BEGIN IMMEDIATE") && state->exec(Schema) && state->exec(ChecksTable) &&
             state->exec(SitemapTables) &&
             state->exec(("PRAGMA application_id = " + std::to_string(ApplicationId)).c_str()) &&
             state->exec(("PRAGMA user_version = " + std::to_string(FormatVersion)).c_str()) &&
             state->exec("INSERT INTO run VALUES ('finished', '0')") && state->exec("COMMIT");
    qint64 steps = 0;
    qint64 finished = 0;
    qint64 results = 0;
    qint64 sitemaps = 0;
    ok = ok && number("SELECT count(*) FROM visits", &steps) &&
         number("SELECT value FROM run WHERE key = 'finished'", &finished) &&
         number("SELECT count(*) FROM results", &results) &&
         number("SELECT count(*) FROM sitemaps", &sitemaps);
    if (!ok) {
        *error = named + QStringLiteral(" cannot be used: ") +
                 QString::fromUtf8(sqlite3_errmsg(state->m_db));
        return nullptr;
    }
    state->m_committed = steps;
    state->m_finished = finished != 0;
    state->m_nextResult = results;
    state->m_storedResults = results;
    // Sitemaps read before the first step are told again too.
    state->m_live = steps == 0 && sitemaps == 0;
    sqlite3_stmt* checks =
        state->prepare("SELECT link, status, final, redirects, error, checked FROM checks");
    while (checks && sqlite3_step(checks) == SQLITE_ROW)
        state->m_checks.insert(text(checks, 0),
                               LinkStatus{sqlite3_column_int(checks, 1), text(checks, 2),
                                          hopsOf(text(checks, 3)), text(checks, 4),
                                          sqlite3_column_int(checks, 5) != 0});
    sqlite3_finalize(checks);
    state->m_readVisit = state->prepare(
        "SELECT address, listed, depth, outcome, final_address, redirected, status, size, failure, "
        "content_type, redirects FROM visits WHERE step = ?");
    state->m_readLinks =
        state->prepare("SELECT link, kind, visitable FROM links WHERE step = ? ORDER BY position");
    state->m_writeVisit =
        state->prepare("INSERT INTO visits VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    state->m_writeLink = state->prepare("INSERT INTO links VALUES (?, ?, ?, ?, ?)");
    state->m_writeResult = state->prepare("INSERT INTO results VALUES (?, ?, ?, ?)");
    state->m_writeCheck = state->prepare("INSERT OR REPLACE INTO checks VALUES (?, ?, ?, ?, ?, ?)");
    if (!state->m_readVisit || !state->m_readLinks || !state->m_writeVisit || !state->m_writeLink ||
        !state->m_writeResult || !state->m_writeCheck) {
        *error = named + QStringLiteral(" cannot be used: ") +
                 QString::fromUtf8(sqlite3_errmsg(state->m_db));
        return nullptr;
    }
    return state;
}

RunState::~RunState() {
    stopWriting();
    for (sqlite3_stmt* statement :
         {m_readVisit, m_readLinks, m_writeVisit, m_writeLink, m_writeResult, m_writeCheck,
          m_writeSitemaps[0], m_writeSitemaps[1], m_writeSitemaps[2], m_writeSitemaps[3]})
        sqlite3_finalize(statement);
    if (m_db) {
        // An open transaction of a run that did not close is rolled back.
        sqlite3_close(m_db);
    }
    // Only once SQLite has let go of the file: its locks end with its last descriptor.
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RunState::exec(const char* sql) {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3_stmt* RunState::prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

void RunState::fail(const QString& what) {
    if (m_failure.isEmpty())
        m_failure = what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db));
    m_broken = true;
}

QStringList RunState::listed() const {
    QStringList addresses;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT address FROM listed ORDER BY position", -1, &statement,
                           nullptr) == SQLITE_OK)
        while (sqlite3_step(statement) == SQLITE_ROW)
            addresses.append(text(statement, 0));
    sqlite3_finalize(statement);
    return addresses;
}

bool RunState::adopt(const std::vector<Option>& options, const QStringList& listed,
                     QString* difference) {
    // A text listed twice is the same text wherever it stands.
    for (qsizetype i = listed.size() - 1; i >= 0; --i)
        m_listedIndex.insert(listed.at(i), i);
    if (m_new) {
        bool ok = exec("BEGIN IMMEDIATE");
        sqlite3_stmt* option = prepare("INSERT INTO options VALUES (?, ?, ?, ?)");
        sqlite3_stmt* address = prepare("INSERT INTO listed VALUES (?, ?)");
        ok = ok && option && address;
        for (size_t i = 0; ok && i < options.size(); ++i) {
            sqlite3_bind_int64(option, 1, static_cast<qint64>(i));
            bind(option, 2, options[i].name);
            bind(option, 3, options[i].secret ? digest(options[i].value) : options[i].value);
            sqlite3_bind_int(option, 4, options[i].secret ? 1 : 0);
            ok = stepDone(option);
        }
        for (qsizetype i = 0; ok && i < listed.size(); ++i) {
            sqlite3_bind_int64(address, 1, i);
            bind(address, 2, listed.at(i));
            ok = stepDone(address);
        }
        sqlite3_finalize(option);
        sqlite3_finalize(address);
        ok = ok && exec("COMMIT");
        if (!ok) {
            *difference = QStringLiteral("cannot write state file ") + m_path +
                          QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db));
            exec("ROLLBACK");
            return false;
        }
        m_new = false;
    } else {
        std::vector<Option> stored;
        sqlite3_stmt* statement =
            prepare("SELECT name, value, secret FROM options ORDER BY position");
        while (statement && sqlite3_step(statement) == SQLITE_ROW)
            stored.push_back(
                {text(statement, 0), text(statement, 1), sqlite3_column_int(statement, 2) != 0});
        sqlite3_finalize(statement);
        const auto valueOf = [](const std::vector<Option>& in,
                                const QString& name) -> const Option* {
            for (const Option& o : in)
                if (o.name == name)
                    return &o;
            return nullptr;
        };
        const auto differs = [&](const QString& name) {
            const Option* here = valueOf(options, name);
            const Option* there = valueOf(stored, name);
            const QString now =
                here ? (here->secret ? digest(here->value) : here->value) : QString();
            if (here && there && now == there->value)
                return false;
            // A secret shows as ***, and only whether it was given at all.
            const auto shown = [](const Option* o) {
                return !o ? QString() : o->secret ? QStringLiteral("***") : o->value;
            };
            const QString said = name + QStringLiteral(" differs (the state file has '") +
                                 shown(there) + QStringLiteral("', this run '") + shown(here) +
                                 QStringLiteral("')");
            *difference = said;
            return true;
        };
        for (const Option& o : options)
            if (differs(o.name))
                return false;
        for (const Option& o : stored)
            if (differs(o.name))
                return false;
        if (this->listed() != listed) {
            *difference = QStringLiteral("the listed addresses differ");
            return false;
        }
    }
    // Whoever is refused the file learns who holds it; everything from here is
    // written in batches.
    const std::string holder =
        "INSERT OR REPLACE INTO run VALUES ('pid', '" + std::to_string(::getpid()) + "')";
    if (!exec("BEGIN IMMEDIATE") || !exec(holder.c_str()) || !exec("COMMIT") ||
        !exec("BEGIN IMMEDIATE")) {
        *difference = QStringLiteral("cannot write state file ") + m_path + QStringLiteral(": ") +
                      QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    m_sinceCommit.start();
    return true;
}

void RunState::resultListed(const ListedResult& result) {
    // The run takes the same path again, so its first results are those the file
    // holds: only those after them are new, told before a step or after one.
    if (m_told++ < m_storedResults || m_broken)
        return;
    m_pending.push_back(result);
}

bool RunState::replay(qint64 step, RecordedVisit& visit) {
    if (step >= m_committed || m_live) {
        m_live = true;
        m_next = step;
        return false;
    }
    sqlite3_bind_int64(m_readVisit, 1, step);
    bool found = sqlite3_step(m_readVisit) == SQLITE_ROW;
    if (found) {
        visit.address = text(m_readVisit, 0);
        visit.listed = sqlite3_column_int64(m_readVisit, 1);
        visit.depth = sqlite3_column_int(m_readVisit, 2);
        const QString outcome = text(m_readVisit, 3);
        visit.allowed = outcome != QLatin1String("disallowed");
        DownloadResult& download = visit.page.download;
        download.outcome = outcomeOf(outcome);
        download.effectiveAddress = text(m_readVisit, 4);
        download.redirected = sqlite3_column_int(m_readVisit, 5) != 0;
        download.httpStatus = sqlite3_column_int(m_readVisit, 6);
        visit.page.bytes = sqlite3_column_int64(m_readVisit, 7);
        download.failure = text(m_readVisit, 8);
        download.contentType = text(m_readVisit, 9);
        download.redirects = hopsOf(text(m_readVisit, 10));
        visit.page.scanned = true;
    }
    sqlite3_reset(m_readVisit);
    if (found) {
        sqlite3_bind_int64(m_readLinks, 1, step);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(m_readLinks)) == SQLITE_ROW) {
            PageLink link;
            link.link = text(m_readLinks, 0);
            link.kind = kindOf(text(m_readLinks, 1));
            link.visitable = sqlite3_column_int(m_readLinks, 2) != 0;
            visit.page.links.push_back(std::move(link));
        }
        found = rc == SQLITE_DONE;
        sqlite3_reset(m_readLinks);
    }
    if (!found)
        dropFrom(step);
    return found;
}

// Unreadable after all: the run goes on from step, and what comes after it (the
// results not told yet, the sitemaps read after it) is written again.
void RunState::dropFrom(qint64 step) {
    m_live = true;
    m_next = step;
    m_committed = step;
    for (const auto& [sql, from] : {std::pair{"DELETE FROM links WHERE step >= ?", step},
                                    {"DELETE FROM results WHERE position >= ?", m_told},
                                    {"DELETE FROM sitemap_results WHERE position >= ?", m_told},
                                    {"DELETE FROM visits WHERE step >= ?", step},
                                    {"DELETE FROM sitemaps WHERE step > ?", step},
                                    {"DELETE FROM sitemap_pages WHERE step > ?", step},
                                    {"DELETE FROM sitemap_failures WHERE step > ?", step}}) {
        sqlite3_stmt* drop = prepare(sql);
        if (drop) {
            sqlite3_bind_int64(drop, 1, from);
            stepDone(drop);
        }
        sqlite3_finalize(drop);
    }
    qint64 results = 0;
    sqlite3_stmt* count = prepare("SELECT count(*) FROM results");
    if (count && sqlite3_step(count) == SQLITE_ROW)
        results = sqlite3_column_int64(count, 0);
    sqlite3_finalize(count);
    m_nextResult = results;
    m_storedResults = results;
}

bool RunState::replaySitemaps(qint64 step, SitemapSource::Reading& reading) {
    if (m_live) {
        m_next = step;
        return false;
    }
    if (readSitemaps(step, reading))
        return true;
    // Read and kept before the kill, or not at all: the run goes on from here.
    if (step >= m_committed) {
        m_live = true;
        m_next = step;
    } else {
        dropFrom(step);
    }
    return false;
}

bool RunState::readSitemaps(qint64 step, SitemapSource::Reading& reading) {
    sqlite3_stmt* found = prepare("SELECT found FROM sitemaps WHERE step = ?");
    sqlite3_stmt* pages =
        prepare("SELECT address, sitemap FROM sitemap_pages WHERE step = ? ORDER BY position");
    sqlite3_stmt* failures = prepare(
        "SELECT address, failure, status FROM sitemap_failures WHERE step = ? ORDER BY position");
    bool ok = found && pages && failures;
    if (ok) {
        sqlite3_bind_int64(found, 1, step);
        ok = sqlite3_step(found) == SQLITE_ROW;
        reading.found = ok && sqlite3_column_int(found, 0) != 0;
    }
    int rc = SQLITE_DONE;
    if (ok) {
        sqlite3_bind_int64(pages, 1, step);
        while ((rc = sqlite3_step(pages)) == SQLITE_ROW)
            reading.pages.push_back({text(pages, 0), text(pages, 1)});
        ok = rc == SQLITE_DONE;
    }
    if (ok) {
        sqlite3_bind_int64(failures, 1, step);
        while ((rc = sqlite3_step(failures)) == SQLITE_ROW)
            reading.failures.push_back(
                {text(failures, 0), text(failures, 1), sqlite3_column_int(failures, 2)});
        ok = rc == SQLITE_DONE;
    }
    for (sqlite3_stmt* statement : {found, pages, failures})
        sqlite3_finalize(statement);
    if (!ok)
        reading = SitemapSource::Reading();
    return ok;
}

void RunState::sitemapsRead(qint64 step, qsizetype listed, const SitemapSource::Reading& reading) {
    if (!m_live || m_broken)
        return;
    if (step != m_next || m_writeFailed) {
        m_broken = true;
        m_pending.clear();
        return;
    }
    Row row;
    row.step = step;
    row.visit = false;
    row.listed = listed;
    row.sitemaps = reading;
    row.results.swap(m_pending);
    row.checks.swap(m_pendingChecks);
    enqueue(std::move(row));
}

void RunState::visited(qint64 step, RecordedVisit&& visit) {
    if (!m_live || m_broken)
        return;
    // Only an unbroken sequence of steps can be told again.
    if (step != m_next || m_writeFailed) {
        m_broken = true;
        m_pending.clear();
        return;
    }
    ++m_next;
    const DownloadResult& download = visit.page.download;
    Row row;
    row.step = step;
    row.address = visit.address;
    row.listed = visit.listed;
    row.depth = visit.depth;
    row.outcome = outcomeName(visit);
    row.finalAddress = download.redirected ? download.effectiveAddress : visit.address;
    row.redirected = download.redirected;
    row.status = download.httpStatus;
    row.size = visit.page.bytes;
    row.failure = visit.allowed ? download.failure : QStringLiteral("robots.txt disallows it");
    row.contentType = download.contentType;
    row.redirects = hopsText(download.redirects);
    row.links = std::move(visit.page.links);
    row.results.swap(m_pending);
    row.checks.swap(m_pendingChecks);
    enqueue(std::move(row));
}

void RunState::enqueue(Row&& row) {
    if (m_commitEveryMs == 0) {
        // Committed before the next step begins.
        if (!writeRow(row) || !exec("COMMIT") || !exec("BEGIN IMMEDIATE")) {
            fail(QStringLiteral("cannot write state file ") + m_path);
            m_writeFailed = true;
        }
        return;
    }
    bool full = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(row));
        full = m_queue.size() >= QueuedRows;
    }
    if (!m_writer.joinable())
        m_writer = std::thread([this] { writeRows(); });
    // The writer wakes by itself when a commit is due: a wake-up for each step
    // would cost more than the writing.
    if (full)
        m_wake.notify_one();
}

void RunState::writeRows() {
    std::unique_lock<std::mutex> lock(m_mutex);
    bool uncommitted = false;
    for (;;) {
        m_wake.wait_for(lock, std::chrono::milliseconds(m_commitEveryMs),
                        [this] { return m_stop || m_queue.size() >= QueuedRows; });
        std::vector<Row> rows;
        rows.swap(m_queue);
        const bool stop = m_stop;
        lock.unlock();
        bool ok = !m_writeFailed;
        for (const Row& row : rows) {
            ok = ok && writeRow(row);
            uncommitted = true;
        }
        // The end commits on its own.
        if (ok && uncommitted && !stop &&
            (m_uncommittedResults >= CommitEveryResults ||
             m_sinceCommit.elapsed() >= m_commitEveryMs)) {
            ok = exec("COMMIT") && exec("BEGIN IMMEDIATE");
            m_uncommittedResults = 0;
            m_sinceCommit.restart();
            uncommitted = false;
        }
        if (!ok && !m_writeFailed) {
            fail(QStringLiteral("cannot write state file ") + m_path);
            m_writeFailed = true;
        }
        lock.lock();
        if (stop && m_queue.empty())
            return;
    }
}

void RunState::stopWriting() {
    if (!m_writer.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_writer.join();
}

bool RunState::writeRow(const Row& row) {
    if (row.sitemaps && !writeSitemaps(row))
        return false;
    if (row.visit) {
        sqlite3_bind_int64(m_writeVisit, 1, row.step);
        bind(m_writeVisit, 2, row.address, m_scratch[2]);
        sqlite3_bind_int64(m_writeVisit, 3, row.listed);
        sqlite3_bind_int(m_writeVisit, 4, row.depth);
        bind(m_writeVisit, 5, row.outcome, m_scratch[5]);
        bind(m_writeVisit, 6, row.finalAddress, m_scratch[6]);
        sqlite3_bind_int(m_writeVisit, 7, row.redirected ? 1 : 0);
        sqlite3_bind_int(m_writeVisit, 8, row.status);
        sqlite3_bind_int64(m_writeVisit, 9, row.size);
        bind(m_writeVisit, 10, row.failure, m_scratch[10]);
        bind(m_writeVisit, 11, row.contentType, m_scratch[11]);
        bind(m_writeVisit, 12, row.redirects, m_scratch[12]);
        if (!stepDone(m_writeVisit))
            return false;
        qint64 position = 0;
        for (const PageLink& link : row.links) {
            sqlite3_bind_int64(m_writeLink, 1, row.step);
            sqlite3_bind_int64(m_writeLink, 2, position++);
            bind(m_writeLink, 3, link.link, m_scratch[0]);
            bind(m_writeLink, 4, LinkKindName(link.kind));
            sqlite3_bind_int(m_writeLink, 5, link.visitable ? 1 : 0);
            if (!stepDone(m_writeLink))
                return false;
        }
    }
    for (const ListedResult& result : row.results) {
        sqlite3_bind_int64(m_writeResult, 1, m_nextResult);
        bind(m_writeResult, 2, result.link, m_scratch[0]);
        bind(m_writeResult, 3, ResultKindName(result));
        // A result of a sitemap came between two steps, after the one before this
        // row's, and has a page, a listed address and a depth of its own; one of a
        // page has those of its step.
        const bool ofPage = result.source == ResultSource::Page;
        sqlite3_bind_int64(m_writeResult, 4, ofPage ? row.step : row.step - 1);
        if (!stepDone(m_writeResult))
            return false;
        if (!ofPage) {
            sqlite3_stmt* const origin = sitemapStatement(3);
            if (!origin)
                return false;
            sqlite3_bind_int64(origin, 1, m_nextResult);
            bind(origin, 2, result.page, m_scratch[1]);
            sqlite3_bind_int64(origin, 3, m_listedIndex.value(result.listed));
            sqlite3_bind_int(origin, 4, result.depth);
            if (!stepDone(origin))
                return false;
        }
        ++m_nextResult;
        ++m_uncommittedResults;
    }
    return writeChecks(row.checks);
}

sqlite3_stmt* RunState::sitemapStatement(int which) {
    static const char* const sql[4] = {"INSERT INTO sitemaps VALUES (?, ?, ?)",
                                       "INSERT INTO sitemap_pages VALUES (?, ?, ?, ?)",
                                       "INSERT INTO sitemap_failures VALUES (?, ?, ?, ?, ?)",
                                       "INSERT INTO sitemap_results VALUES (?, ?, ?, ?)"};
    if (!m_writeSitemaps[which])
        m_writeSitemaps[which] = prepare(sql[which]);
    return m_writeSitemaps[which];
}

bool RunState::writeSitemaps(const Row& row) {
    sqlite3_stmt* const head = sitemapStatement(0);
    sqlite3_stmt* const page = sitemapStatement(1);
    sqlite3_stmt* const failure = sitemapStatement(2);
    if (!head || !page || !failure)
        return false;
    const SitemapSource::Reading& reading = *row.sitemaps;
    sqlite3_bind_int64(head, 1, row.step);
    sqlite3_bind_int64(head, 2, row.listed);
    sqlite3_bind_int(head, 3, reading.found ? 1 : 0);
    if (!stepDone(head))
        return false;
    qint64 position = 0;
    for (const SitemapSource::Entry& entry : reading.pages) {
        sqlite3_bind_int64(page, 1, row.step);
        sqlite3_bind_int64(page, 2, position++);
        bind(page, 3, entry.address, m_scratch[0]);
        bind(page, 4, entry.sitemap, m_scratch[1]);
        if (!stepDone(page))
            return false;
    }
    position = 0;
    for (const SitemapSource::Failed& failed : reading.failures) {
        sqlite3_bind_int64(failure, 1, row.step);
        sqlite3_bind_int64(failure, 2, position++);
        bind(failure, 3, failed.address, m_scratch[0]);
        sqlite3_bind_int(failure, 4, failed.status);
        bind(failure, 5, failed.reason, m_scratch[1]);
        if (!stepDone(failure))
            return false;
    }
    return true;
}

bool RunState::writeChecks(const std::vector<std::pair<QString, LinkStatus>>& checks) {
    if (checks.empty())
        return true;
    sqlite3_stmt* const write = m_writeCheck;
    bool ok = true;
    for (size_t i = 0; ok && i < checks.size(); ++i) {
        const LinkStatus& status = checks[i].second;
        bind(write, 1, checks[i].first);
        sqlite3_bind_int(write, 2, status.status);
        bind(write, 3, status.final);
        bind(write, 4, hopsText(status.redirects));
        bind(write, 5, status.error);
        sqlite3_bind_int(write, 6, status.checked ? 1 : 0);
        ok = stepDone(write);
    }
    return ok;
}

void RunState::checked(const QString& link, const LinkStatus& status) {
    if (!m_writeFailed)
        m_pendingChecks.emplace_back(link, status);
}

bool RunState::recall(const QString& link, LinkStatus* status) const {
    const auto found = m_checks.constFind(link);
    if (found == m_checks.cend())
        return false;
    *status = *found;
    return true;
}

bool RunState::close(bool finished, QString* error) {
    stopWriting();
    bool ok = m_failure.isEmpty();
    // The results after the last step, of a run that ended whole (one cut short
    // tells them again), and the checks that ended after the last step.
    if (ok && sqlite3_get_autocommit(m_db) == 0 && finished && !m_broken && !m_pending.empty()) {
        Row row;
        row.step = m_live ? m_next : m_committed;
        row.visit = false;
        row.results.swap(m_pending);
        ok = writeRow(row);
    }
    if (ok && sqlite3_get_autocommit(m_db) == 0)
        ok = writeChecks(m_pendingChecks);
    m_pendingChecks.clear();
    if (ok && finished && !m_broken && !m_finished)
        ok = exec("UPDATE run SET value = '1' WHERE key = 'finished'");
    if (ok)
        ok = exec("DELETE FROM run WHERE key = 'pid'");
    if (sqlite3_get_autocommit(m_db) == 0 && !exec(ok ? "COMMIT" : "ROLLBACK"))
        ok = false;
    if (!ok) {
        if (m_failure.isEmpty())
            fail(QStringLiteral("cannot write state file ") + m_path);
        *error = m_failure;
    }
    return ok;
}

bool RunState::forEachResult(const std::function<void(const ListedResult&)>& each, QString* error) {
    const QStringList addresses = listed();
    sqlite3_stmt* statement = prepare(
        "SELECT r.value, r.kind, coalesce(s.page, v.final_address), coalesce(s.listed, v.listed), "
        "coalesce(s.depth, v.depth) FROM results r LEFT JOIN visits v ON v.step = r.step "
        "LEFT JOIN sitemap_results s ON s.position = r.position ORDER BY r.position");
    int rc = statement ? SQLITE_ROW : SQLITE_ERROR;
    while (statement && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const QString kind = text(statement, 1);
        each(ListedResult{text(statement, 0), kindOf(kind), text(statement, 2),
                          addresses.value(sqlite3_column_int64(statement, 3)),
                          sqlite3_column_int(statement, 4), sourceOf(kind)});
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) {
        *error = QStringLiteral("cannot read state file ") + m_path + QStringLiteral(": ") +
                 QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}
