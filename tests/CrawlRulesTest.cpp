// The crawl's rules and records on their own: the site of a host, robots.txt, and
// the JSON and CSV records of a result.
#include "crawl/CrawlScope.h"
#include "crawl/RobotsTxt.h"
#include "export/ResultRecord.h"

#include <gtest/gtest.h>

namespace {

TEST(CrawlScope, SiteIsTheRegistrableDomainOrTheHostItself) {
    const std::pair<const char*, const char*> rows[] = {
        {"www.example.com", "example.com"},
        {"a.b.example.co.uk", "example.co.uk"},
        {"user.github.io", "user.github.io"}, // a private suffix of the list
        {"co.uk", "co.uk"},                   // a public suffix is its own site
        {"localhost", "localhost"},
        {"x.site.localhost", "site.localhost"},
        {"127.0.0.2", "127.0.0.2"},
        {"::1", "::1"},
    };
    for (const auto& [host, site] : rows)
        EXPECT_EQ(CrawlScope::siteOf(QString::fromLatin1(host)), QString::fromLatin1(site)) << host;
}

TEST(CrawlScope, FollowsWithinHostPatternsAndDepth) {
    CrawlScope scope;
    scope.hosts = CrawlScope::Hosts::SameHost;
    scope.exclude = {QRegularExpression(QStringLiteral("\\.pdf$"))};
    scope.maxDepth = 2;
    scope.startAt(QStringLiteral("https://WWW.Example.com:8443/start"));
    EXPECT_TRUE(scope.follows(QStringLiteral("http://www.example.com/a"), 2));
    EXPECT_FALSE(scope.follows(QStringLiteral("http://www.example.com/a"), 3));
    EXPECT_FALSE(scope.follows(QStringLiteral("http://www.example.com/a.pdf"), 1));
    EXPECT_FALSE(scope.follows(QStringLiteral("http://shop.example.com/a"), 1));
    scope.hosts = CrawlScope::Hosts::SameSite;
    scope.startAt(QStringLiteral("https://www.example.com/"));
    EXPECT_TRUE(scope.follows(QStringLiteral("http://shop.example.com/a"), 1));
    EXPECT_FALSE(scope.follows(QStringLiteral("http://example.org/a"), 1));
}

TEST(RobotsTxt, TheLongestMatchingRuleOfOurGroupWins) {
    const QByteArray text = "User-agent: *\n"
                            "Disallow: /\n"
                            "\n"
                            "User-Agent: googlebot\n"
                            "user-agent: ORVELLE # us\n"
                            "Disallow: /private/\n"
                            "Allow: /private/open\n"
                            "Disallow: /*.cgi$\n"
                            "Disallow: /caf%c3%a9/\n"
                            "Disallow:\n"
                            "Sitemap: https://example.com/sitemap.xml\n"
                            "\r\n"
                            "User-agent: Orvelle\r\n"
                            "Disallow: /p?id=\r\n";
    const RobotsTxt rules = RobotsTxt::parse(text, QStringLiteral("Orvelle"));
    const std::pair<const char*, bool> rows[] = {
        {"http://h/", true},
        {"http://h/private/x", false},
        {"http://h/private/open/x", true},
        {"http://h/run.cgi", false},
        {"http://h/run.cgi?x", true},
        {"http://h/caf%C3%A9/menu", false},
        {"http://h/p?id=3", false}, // a second group for us counts too
        {"http://h/p?other", true},
    };
    for (const auto& [address, allowed] : rows)
        EXPECT_EQ(rules.allows(QString::fromLatin1(address)), allowed) << address;
    // No group of ours: the "*" group; no rules at all, or a 4xx: everything.
    EXPECT_FALSE(
        RobotsTxt::parse(text, QStringLiteral("other")).allows(QStringLiteral("http://h/")));
    EXPECT_TRUE(RobotsTxt().allows(QStringLiteral("http://h/x")));
    EXPECT_FALSE(RobotsTxt::disallowingAll().allows(QStringLiteral("http://h/x")));
    EXPECT_EQ(RobotsTxt::addressFor(QStringLiteral("https://u:p@h:8080/a/b?q#f")),
              QStringLiteral("https://h:8080/robots.txt"));
}

TEST(ResultRecord, JsonAndCsvEscapeWhatTheyMust) {
    const ListedResult result{QStringLiteral("http://h/a?x=\"1\",2"), LinkKind::Src,
                              QStringLiteral("http://h/\\dir\t"),
                              QString::fromUtf8("caf\xc3\xa9\r\n\x01") + QChar(0xD800), 3};
    EXPECT_EQ(JsonRecord(result),
              QByteArray("{\"url\":\"http://h/a?x=\\\"1\\\",2\",\"kind\":\"src\","
                         "\"page\":\"http://h/\\\\dir\\t\",\"listed\":\"caf\xc3\xa9\\r\\n"
                         "\\u0001\\ud800\",\"depth\":3}\n"));
    EXPECT_EQ(
        CsvRecord(result),
        QByteArray(
            "\"http://h/a?x=\"\"1\"\",2\",src,http://h/\\dir\t,\"caf\xc3\xa9\r\n\x01?\",3\r\n"));
    EXPECT_EQ(CsvHeader(), QByteArray("url,kind,page,listed,depth\r\n"));
}

} // namespace
