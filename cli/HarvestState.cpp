#include "cli/HarvestState.h"

std::vector<RunState::Option> StateOptions(const HarvestOptions& options) {
    const auto yes = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
    const auto patterns = [](const QStringList& list) { return list.join(QLatin1Char('\n')); };
    return {
        {QStringLiteral("--files"), yes(options.files)},
        {QStringLiteral("--forever"), yes(options.extractForever)},
        {QStringLiteral("--quotes"),
         options.anyQuotes ? QStringLiteral("any") : QStringLiteral("double")},
        {QStringLiteral("--srcset"), yes(options.srcset)},
        {QStringLiteral("--max-pages"), QString::number(options.maxPages)},
        {QStringLiteral("--max-page-size"), QString::number(options.maxPageBytes)},
        {QStringLiteral("--same-host"), yes(options.sameHost)},
        {QStringLiteral("--same-site"), yes(options.sameSite)},
        {QStringLiteral("--include"), patterns(options.include)},
        {QStringLiteral("--exclude"), patterns(options.exclude)},
        {QStringLiteral("--match"), options.match},
        {QStringLiteral("--depth"), QString::number(options.depth)},
        {QStringLiteral("--robots"), yes(options.robots)},
    };
}
