// What a request is told, by its address: the scoping rules of headers, cookies
// set by answers (RFC 6265) and netrc logins. (That the values reach a server,
// and only the right one, is checked by running orvelle-harvest, in
// HarvestCliTest.cpp.)
#include "crawl/RequestIdentity.h"

#include <gtest/gtest.h>

namespace {

QByteArray headersOf(const RequestIdentity& identity, const char* address) {
    return identity.headersFor(QString::fromUtf8(address)).join('|');
}

TEST(RequestIdentity, HeadersGoToTheirHostAndItsSubdomainsOnly) {
    RequestIdentity identity;
    RequestIdentity::Header own, listed;
    ASSERT_TRUE(ParseHeaderOption("Docs.Example.com=X-Token: a:b", &own));
    ASSERT_TRUE(ParseHeaderOption("  X-Site:  yes ", &listed));
    EXPECT_EQ(own.host, QStringLiteral("docs.example.com"));
    EXPECT_EQ(own.line, QByteArray("X-Token: a:b"));
    EXPECT_EQ(listed.host, QString());
    EXPECT_EQ(listed.line, QByteArray("X-Site: yes"));
    identity.headers = {own, listed};
    identity.scopeToListed({QStringLiteral("example.org"), QStringLiteral("10.0.0.1")});
    EXPECT_EQ(headersOf(identity, "https://docs.example.com/"), "X-Token: a:b");
    EXPECT_EQ(headersOf(identity, "http://api.docs.EXAMPLE.com:8080/x"), "X-Token: a:b");
    EXPECT_EQ(headersOf(identity, "https://example.com/"), "");
    EXPECT_EQ(headersOf(identity, "https://otherdocs.example.com/"), "");
    EXPECT_EQ(headersOf(identity, "https://www.example.org/"), "X-Site: yes");
    EXPECT_EQ(headersOf(identity, "https://example.org.evil.net/"), "");
    EXPECT_EQ(headersOf(identity, "http://10.0.0.1/"), "X-Site: yes");
    EXPECT_EQ(headersOf(identity, "http://110.0.0.1/"), "");
}

struct SetCookieRow {
    const char* name;
    const char* address;
    const char* header;
    bool kept;
    const char* domain = "";
    bool subdomains = false;
    const char* path = "";
};

TEST(RequestIdentity, SetCookieAsAUserAgentTakesIt) {
    const SetCookieRow rows[] = {
        {"DefaultPath", "https://a.example.com/docs/page", "id=1", true, "a.example.com", false,
         "/docs"},
        {"RootPath", "https://a.example.com/page", "id=1; Path=none", true, "a.example.com", false,
         "/"},
        {"ParentDomain", "https://a.example.com/", "id=1; Domain=.Example.com; Path=/x", true,
         "example.com", true, "/x"},
        {"OtherDomain", "https://a.example.com/", "id=1; Domain=example.org", false},
        {"SiblingDomain", "https://a.example.com/", "id=1; Domain=b.example.com", false},
        {"PublicSuffix", "https://a.example.co.uk/", "id=1; Domain=co.uk", false},
        {"NoName", "https://a.example.com/", "=1", false},
        {"NoEquals", "https://a.example.com/", "id", false},
    };
    for (const SetCookieRow& row : rows) {
        Cookie cookie;
        const bool kept = ParseSetCookie(row.header, QString::fromUtf8(row.address), 1000, &cookie);
        EXPECT_EQ(kept, row.kept) << row.name;
        if (!kept || !row.kept)
            continue;
        EXPECT_EQ(cookie.domain.toStdString(), row.domain) << row.name;
        EXPECT_EQ(cookie.includeSubdomains, row.subdomains) << row.name;
        EXPECT_EQ(cookie.path.toStdString(), row.path) << row.name;
    }
    Cookie aged;
    ASSERT_TRUE(ParseSetCookie("id=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=60",
                               QStringLiteral("https://a.example.com/"), 1000, &aged));
    EXPECT_EQ(aged.expires, 1060); // Max-Age wins over Expires
}

TEST(RequestIdentity, NetrcLoginsByMachineWithoutTheDefault) {
    const auto logins = ParseNetrc("machine Example.com login alice password \"p w\\\"d\"\n"
                                   "macdef init\ncd x\nmachine inside.macro\n\n"
                                   "default login anyone password any\n"
                                   "machine other.org\n  login bob\n  account a\n  password pb\n"
                                   "machine example.com login second password second\n");
    ASSERT_EQ(logins.size(), 2);
    EXPECT_EQ(logins.value(QStringLiteral("example.com")).user, QByteArray("alice"));
    EXPECT_EQ(logins.value(QStringLiteral("example.com")).password, QByteArray("p w\"d"));
    EXPECT_EQ(logins.value(QStringLiteral("other.org")).user, QByteArray("bob"));
    EXPECT_EQ(logins.value(QStringLiteral("other.org")).password, QByteArray("pb"));
    RequestIdentity identity;
    identity.netrc = logins;
    EXPECT_NE(identity.loginFor(QStringLiteral("https://EXAMPLE.com/a")), nullptr);
    EXPECT_EQ(identity.loginFor(QStringLiteral("https://www.example.com/a")), nullptr);
}

} // namespace
