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
    return {
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
}
