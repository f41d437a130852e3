#include "cli/HarvestOptions.h"

#include <QCommandLineParser>
#include <limits>

namespace {

// A whole number from 1 to max, or nothing.
bool parsePositive(const QString& text, qint64 max, qint64* value) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok || v < 1 || v > max)
        return false;
    *value = v;
    return true;
}

ParsedCommandLine usageError(const QString& text) {
    ParsedCommandLine result;
    result.action = ParsedCommandLine::Action::UsageError;
    result.text = text;
    return result;
}

} // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Downloads each web page listed, finds every href=\"...\" (or src=\"...\") value,\n"
        "resolves it to an absolute address and writes the list of results."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);

    const QCommandLineOption input(
        {QStringLiteral("i"), QStringLiteral("input")},
        QStringLiteral("Read addresses from a URL list file, one per line (\"-\" reads standard "
                       "input). May be given several times; addresses given as arguments come "
                       "first."),
        QStringLiteral("FILE"));
    const QCommandLineOption files(
        {QStringLiteral("f"), QStringLiteral("files")},
        QStringLiteral("Retrieve file links (src) instead of HTML links (href)."));
    const QCommandLineOption foreverOption(
        {QStringLiteral("F"), QStringLiteral("forever")},
        QStringLiteral("Extract forever: follow every HTML link found, newest first."));
    const QCommandLineOption maxPages(
        {QStringLiteral("n"), QStringLiteral("max-pages")},
        QStringLiteral("Stop after N page visits in all (default: no limit)."),
        QStringLiteral("N"));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("Abandon a transfer that stalls (under 100 bytes/s) for S seconds "
                       "(default 60)."),
        QStringLiteral("S"));
    const QCommandLineOption connectTimeout(
        QStringLiteral("connect-timeout"),
        QStringLiteral("Give up connecting after S seconds (default 30)."), QStringLiteral("S"));
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the results to FILE (default: standard output). An existing file "
                       "is replaced only once the new one is complete."),
        QStringLiteral("FILE"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("lines (one result per line), spaced (as \"Save Results As Text File\") "
                       "or comma (as \"Save As Comma Delimited\"). Default: lines."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption quiet(
        {QStringLiteral("q"), QStringLiteral("quiet")},
        QStringLiteral("No progress and no per-address messages on standard error."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOptions({input, files, foreverOption, maxPages, timeout, connectTimeout, output,
                       format, quiet, help, version});
    parser.addPositionalArgument(QStringLiteral("ADDRESS"),
                                 QStringLiteral("Web addresses to visit."),
                                 QStringLiteral("[ADDRESS...]"));

    if (!parser.parse(arguments))
        return usageError(parser.errorText());

    ParsedCommandLine result;
    if (parser.isSet(help)) {
        result.action = ParsedCommandLine::Action::Help;
        // The usage line names the program as it is installed, not the path it was
        // started by.
        const QString help = parser.helpText();
        result.text = QStringLiteral("Usage: orvelle-harvest [OPTIONS] [ADDRESS...]") +
                      help.mid(help.indexOf(QLatin1Char('\n')));
        return result;
    }
    if (parser.isSet(version)) {
        result.action = ParsedCommandLine::Action::Version;
        result.text = QStringLiteral("orvelle-harvest " ORVELLE_VERSION "\n");
        return result;
    }

    HarvestOptions& o = result.options;
    o.addresses = parser.positionalArguments();
    o.inputFiles = parser.values(input);
    o.files = parser.isSet(files);
    o.extractForever = parser.isSet(foreverOption);
    o.quiet = parser.isSet(quiet);

    if (parser.isSet(maxPages) &&
        !parsePositive(parser.value(maxPages), std::numeric_limits<qint64>::max(), &o.maxPages))
        return usageError(QStringLiteral("--max-pages needs a whole number of at least 1, not '") +
                          parser.value(maxPages) + QStringLiteral("'."));

    // libcurl takes its time-outs as a long of seconds (milliseconds for the connect
    // time-out); a day is far beyond any sensible value and keeps both in range.
    constexpr qint64 MaxSeconds = 24 * 60 * 60;
    qint64 seconds = 0;
    if (parser.isSet(timeout)) {
        if (!parsePositive(parser.value(timeout), MaxSeconds, &seconds))
            return usageError(QStringLiteral("--timeout needs a whole number of seconds from 1 to "
                                             "86400, not '") +
                              parser.value(timeout) + QStringLiteral("'."));
        o.stallTimeoutSeconds = static_cast<int>(seconds);
    }
    if (parser.isSet(connectTimeout)) {
        if (!parsePositive(parser.value(connectTimeout), MaxSeconds, &seconds))
            return usageError(QStringLiteral("--connect-timeout needs a whole number of seconds "
                                             "from 1 to 86400, not '") +
                              parser.value(connectTimeout) + QStringLiteral("'."));
        o.connectTimeoutSeconds = static_cast<int>(seconds);
    }

    if (parser.isSet(output)) {
        o.output = parser.value(output);
        if (o.output.isEmpty())
            return usageError(QStringLiteral("--output needs a file name."));
        // "-" is standard output, as for the input.
        if (o.output == QStringLiteral("-"))
            o.output.clear();
    }

    if (parser.isSet(format)) {
        const QString name = parser.value(format);
        if (name == QStringLiteral("lines"))
            o.format = OutputFormat::Lines;
        else if (name == QStringLiteral("spaced"))
            o.format = OutputFormat::Spaced;
        else if (name == QStringLiteral("comma"))
            o.format = OutputFormat::Comma;
        else
            return usageError(QStringLiteral("unknown format '") + name +
                              QStringLiteral("' (lines, spaced or comma)."));
    }
    return result;
}
