// orvelle-harvest's command line, read directly: every option that does not fit
// is a usage error that says what is wrong. (That such an error ends the program
// with status 2 and its text on standard error is checked by running it, in
// HarvestCliTest.cpp.)
#include "cli/HarvestOptions.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct UsageErrorRow {
    const char* name;
    std::vector<const char*> args; // after the program's name
    const char* says;              // part of the text
};

TEST(ParseCommandLine, AnOptionThatDoesNotFitIsAUsageErrorThatSaysWhy) {
    const UsageErrorRow rows[] = {
        {"QuotesUnknown", {"--quotes=single", "a"}, "--quotes needs double or any, not 'single'."},
        {"SrcsetWithoutFiles", {"--srcset", "a"}, "--srcset lists file links: give --files too."},
        {"DepthWithoutForever", {"--depth", "1", "a"}, "--depth needs --forever"},
        {"DepthNegative", {"-F", "--depth=-1", "a"}, "--depth needs a whole number from 0"},
        {"WaitNotANumber", {"--wait", "soon", "a"}, "--wait needs a number of seconds"},
        {"IncludeInvalid",
         {"--include", "(a", "a"},
         "--include: '(a' is not a valid expression: missing closing parenthesis"},
        {"MatchInvalid", {"--match", "*", "a"}, "--match: "},
        {"SameHostAndSameSite", {"--same-host", "--same-site", "a"}, "exclude each other"},
        {"UnknownOption", {"--deep", "3", "a"}, "unknown option '--deep'."},
        {"SameHostWithoutForever", {"--same-host", "a"}, "--same-host needs --forever."},
        {"ExcludeWithoutForever", {"--exclude", "x", "a"}, "--exclude needs --forever."},
        {"RetriesTooMany", {"--retries", "11", "a"}, "--retries"},
        {"MaxRetryWaitNegative", {"--max-retry-wait=-1", "a"}, "--max-retry-wait"},
        {"UnknownFormat", {"--format", "xml", "a"}, "unknown format 'xml'"},
        {"MaxPagesNotANumber", {"-n", "ten", "a"}, "--max-pages"},
        {"TimeoutZero", {"--timeout", "0", "a"}, "--timeout"},
        {"ParallelTooMany",
         {"--parallel", "65", "a"},
         "--parallel needs a whole number from 1 to 64, not '65'."},
        {"PerHostZero",
         {"--per-host=0", "a"},
         "--per-host needs a whole number from 1 to 16, not '0'."},
        {"MaxPageSize2G",
         {"--max-page-size", "2G", "a"},
         "--max-page-size needs a size from 1 byte to 2G - 1"},
        {"MaxTimeZero", {"--max-time", "0", "a"}, "--max-time needs a number of seconds above 0"},
        {"ConnectTimeoutMissing", {"a", "--connect-timeout"}, "--connect-timeout"},
        {"SitemapsUnknown",
         {"--sitemaps", "all", "a"},
         "--sitemaps needs add, only or compare, not 'all'."},
        {"HeaderNameNotAToken", {"--header", "X Token: v", "a"}, "--header needs 'Name: value'"},
        {"HeaderHostEmpty", {"--header", "=X-Token: v", "a"}, "--header needs 'Name: value'"},
        {"HeaderLineBreak", {"--header", "X-Token: v\r\nHost: b", "a"}, "--header needs"},
        {"UserAgentEmpty", {"--user-agent=", "a"}, "--user-agent needs a text on one line."},
        {"CookiesMissing", {"--cookies", "/nonexistent/c.txt", "a"}, "--cookies: cannot read"},
        {"CaCertificateNotPem", {"--ca-certificate", "/dev/null", "a"}, "holds no PEM certificate"},
    };
    for (const UsageErrorRow& row : rows) {
        QStringList arguments{QStringLiteral("orvelle-harvest")};
        for (const char* arg : row.args)
            arguments.append(QString::fromUtf8(arg));
        const ParsedCommandLine parsed = ParseCommandLine(arguments);
        EXPECT_EQ(parsed.action, ParsedCommandLine::Action::UsageError) << row.name;
        EXPECT_NE(parsed.text.toStdString().find(row.says), std::string::npos)
            << row.name << ": " << parsed.text.toStdString();
    }
}

} // namespace
