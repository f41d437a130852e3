#include "cli/HarvestState.h"

std::vector<RunState::Option> StateOptions(const HarvestOptions& options) {
    const auto yes = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
    const auto patterns = [](const QList<QRegularExpression>& list) {
        QStringList texts;
        for (const QRegularExpression& e : list)
            texts.append(e.pattern());
        return texts.join(QLatin1Char('\n'));
    };
    const RunSettings& run = options.run;
    const CrawlScope& scope = run.scope;
    std::vector<RunState::Option> stored = {
        {QStringLiteral("--files"), yes(options.files)},
        {QStringLiteral("--forever"), yes(options.extractForever)},
        {QStringLiteral("--quotes"),
         run.scan.anyQuotes ? QStringLiteral("any") : QStringLiteral("double")},
        {QStringLiteral("--srcset"), yes(run.scan.srcset)},
        {QStringLiteral("--max-pages"), QString::number(run.maxPages)},
        {QStringLiteral("--max-page-size"), QString::number(run.download.maxPageBytes)},
        {QStringLiteral("--same-host"), yes(scope.hosts == CrawlScope::Hosts::SameHost)},
        {QStringLiteral("--same-site"), yes(scope.hosts == CrawlScope::Hosts::SameSite)},
        {QStringLiteral("--include"), patterns(scope.include)},
        {QStringLiteral("--exclude"), patterns(scope.exclude)},
        {QStringLiteral("--match"), scope.match.pattern()},
        {QStringLiteral("--depth"), QString::number(scope.maxDepth)},
        {QStringLiteral("--robots"), yes(scope.robots)},
    };
    // Kept only when given, as the identity below.
    if (run.sitemaps != SitemapMode::Off)
        stored.push_back({QStringLiteral("--sitemaps"), SitemapModeName(run.sitemaps)});
    if (options.check)
        stored.push_back({QStringLiteral("--check"),
                          options.acceptGiven ? options.acceptList : QStringLiteral("200..399")});
    // Who the requests say they come from changes what the sites answer (which
    // certificates are trusted is how pages are fetched, as the time-outs). These
    // are kept only when given, so that a state file of a run without them stays
    // the same; header values, cookies and passwords only as their digests.
    const RequestIdentity& identity = options.identity;
    if (!identity.userAgent.isEmpty())
        stored.push_back({QStringLiteral("--user-agent"), QString::fromUtf8(identity.userAgent)});
    if (!identity.headers.empty()) {
        QStringList headers;
        for (const RequestIdentity::Header& h : identity.headers)
            headers.append(h.host + u'=' + QString::fromUtf8(h.line));
        stored.push_back({QStringLiteral("--header"), headers.join(u'\n'), true});
    }
    if (!options.cookieText.isEmpty())
        stored.push_back(
            {QStringLiteral("--cookies"), QString::fromUtf8(options.cookieText), true});
    if (!identity.netrcFile.isEmpty())
        stored.push_back({QStringLiteral("--netrc-file"),
                          QString::fromUtf8(identity.netrcFile + '\n' + options.netrcText), true});
    return stored;
}
