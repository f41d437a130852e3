#include "crawl/HarvestRun.h"
#include "crawl/LinkScanner.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScanPage.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

#include <gtest/gtest.h>

namespace {

const QString Page = QStringLiteral("http://host/dir/page.html");

class ExtractLinksTest : public ::testing::Test {
protected:
    ExtractLinksTest() : form(shell), links(form.harvestRun()) {
        form.setPushButton7Caption(Form1::StopCaption);
        links.SetPageAddress(Page);
    }

    // Scans bytes as the page of the current address.
    void scan(const QByteArray& page) {
        links.page.bytes = page;
        links.page.length = page.size();
        links.ScanPageForLinks();
    }
    QStringList results() const { return form.ListView2.Texts(); }

    ScriptedShell shell;
    Form1 form;
    HarvestRun& links;
};

// --- Page addresses --------------------------------------------------------

struct AddressCase {
    const char* given;
    const char* pageAddress; // empty: not fetched
};

void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << QuotedRow(c.given);
}

class PageAddressTable : public ::testing::TestWithParam<AddressCase> {};

TEST_P(PageAddressTable, NormalisesTheAddress) {
    ScriptedShell shell;
    Form1 form(shell);
    HarvestRun& links = form.harvestRun();
    links.page.base = QStringLiteral("http://previous.example/");
    links.SetPageAddress(QString::fromUtf8(GetParam().given));
    EXPECT_EQ(links.page.address, QString::fromUtf8(GetParam().pageAddress));
    EXPECT_EQ(links.page.base, links.page.address);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PageAddressTable,
    ::testing::Values(
        AddressCase{"host", "http://host/"}, AddressCase{" host ", "http://host/"},
        AddressCase{"host:8080/x?y", "http://host:8080/x?y"},
        AddressCase{"HTTP://Host", "http://host/"}, AddressCase{"https://host", "https://host/"},
        AddressCase{"http://host/dir", "http://host/dir"},
        AddressCase{"http://host/dir/page.HTML", "http://host/dir/page.HTML"},
        AddressCase{"http://host/dir/page.php?id=7", "http://host/dir/page.php?id=7"},
        AddressCase{"a.example/?u=http://b.example", "http://a.example/?u=http://b.example"},
        AddressCase{"ftp://host/", "ftp://host/"}, AddressCase{"", ""}, AddressCase{" \t ", ""},
        // Beyond the table: what a list file or a person may bring.
        AddressCase{"\xef\xbb\xbfhost/a", "http://host/a"}, AddressCase{"\xef\xbb\xbf", ""},
        AddressCase{"host/a b.html", "http://host/a%20b.html"},
        AddressCase{"b\xc3\xbc"
                    "cher.example/\xc3\xa4",
                    "http://xn--bcher-kva.example/%C3%A4"},
        AddressCase{"host/page.html#part", "http://host/page.html#part"},
        AddressCase{"localhost:8080", "http://localhost:8080/"}));

// --- Resolution ------------------------------------------------------------

struct ResolveCase {
    const char* value;
    bool isFile;
    const char* recorded;
    bool queued;
};

void PrintTo(const ResolveCase& c, std::ostream* os) {
    *os << QuotedRow(c.value) << (c.isFile ? " file" : " html");
}

class ResolutionTable : public ::testing::TestWithParam<ResolveCase> {};

// Each value found on http://host/dir/page.html, under the option that lists its kind.
TEST_P(ResolutionTable, RecordsTheResolvedLink) {
    ScriptedShell shell;
    Form1 form(shell);
    form.setOption2(GetParam().isFile);
    const QByteArray value(GetParam().value);
    const QByteArray page = GetParam().isFile ? QByteArray("<img src=\"" + value + "\">")
                                              : QByteArray("<a href=\"" + value + "\">");
    HarvestRun& links = ScanAsPage(form, Page, page);

    EXPECT_EQ(form.ListView2.Texts(), QStringList{QString::fromUtf8(GetParam().recorded)});
    const QStringList queue =
        GetParam().queued ? QStringList{form.ListView2.Text(1)} : QStringList{};
    EXPECT_EQ(links.crawl.queue, queue);
    EXPECT_EQ(links.crawl.seen.size(), GetParam().isFile ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ResolutionTable,
    ::testing::Values(
        ResolveCase{"page2.html", false, "http://host/dir/page2.html", true},
        ResolveCase{"sub/", false, "http://host/dir/sub/", true},
        ResolveCase{"/about.html", false, "http://host/about.html", true},
        ResolveCase{"../up.html", false, "http://host/up.html", true},
        ResolveCase{"#top", false, "http://host/dir/page.html", true},
        ResolveCase{"?q=1&amp;r=2", false, "http://host/dir/page.html?q=1&r=2", true},
        ResolveCase{"HTTP://Other/x", false, "http://other/x", true},
        ResolveCase{"mailto:a@b.example", false, "mailto:a@b.example", false},
        ResolveCase{"img/a.png", true, "http://host/dir/img/a.png", false},
        ResolveCase{"/img/a.png", true, "http://host/img/a.png", false},
        ResolveCase{"//cdn.example/x.js", true, "http://cdn.example/x.js", false},
        ResolveCase{"icons.svg#home", true, "http://host/dir/icons.svg#home", false},
        // Beyond the table.
        ResolveCase{"", false, "http://host/dir/page.html", true},
        ResolveCase{"javascript:void(0)", false, "javascript:void(0)", false},
        ResolveCase{"tel:+123", false, "tel:+123", false},
        ResolveCase{"https://other/x#a", false, "https://other/x", true},
        ResolveCase{"../../../../x", false, "http://host/x", true},
        ResolveCase{"a b.html", false, "http://host/dir/a%20b.html", true},
        ResolveCase{"\xc3\xa9t\xc3\xa9.html", false, "http://host/dir/%C3%A9t%C3%A9.html", true},
        ResolveCase{"\xe9t\xe9.html", false, "http://host/dir/%C3%A9t%C3%A9.html", true},
        ResolveCase{"  x.html\n", false, "http://host/dir/x.html", true},
        ResolveCase{"a\n\tb.html", false, "http://host/dir/ab.html", true},
        ResolveCase{"x.php?a=1&#38;b=2&#x26;c=&lt;3&gt;", false,
                    "http://host/dir/x.php?a=1&b=2&c=%3C3%3E", true},
        ResolveCase{"http://exa mple/", false, "http://exa mple/", false},
        ResolveCase{"//", false, "//", false}));

// --- The base element, quotes and srcset --------------------------------------

struct PageCase {
    const char* page;
    std::vector<const char*> results;
    ScanRules rules = {};
    bool files = false;
};

void PrintTo(const PageCase& c, std::ostream* os) {
    *os << QuotedRow(c.page);
}

class PageTable : public ::testing::TestWithParam<PageCase> {};

// Every link of a page found on http://host/dir/page.html.
TEST_P(PageTable, ListsTheLinksOfThePage) {
    ScriptedShell shell;
    Form1 form(shell);
    form.setOption2(GetParam().files);
    form.harvestRun().Settings.scan = GetParam().rules;
    ScanAsPage(form, Page, GetParam().page);
    QStringList expected;
    for (const char* r : GetParam().results)
        expected.append(QString::fromUtf8(r));
    EXPECT_EQ(form.ListView2.Texts(), expected);
}

constexpr ScanRules AnyQuotes{true, false};
constexpr ScanRules SrcsetToo{false, true};

INSTANTIATE_TEST_SUITE_P(
    Rows, PageTable,
    ::testing::Values(
        // RFC 3986 5.1.1: the first <base href> is the base of every relative link.
        PageCase{R"(<head><base href="http://b.example/x/"></head><a href="a.html">)",
                 {"http://b.example/x/", "http://b.example/x/a.html"}},
        PageCase{R"(<a href="a.html"><base href="/other/">)",
                 {"http://host/other/a.html", "http://host/other/"}},
        PageCase{R"(<base href="one/"><base href="two/"><a href="a">)",
                 {"http://host/dir/one/", "http://host/dir/one/two/", "http://host/dir/one/a"}},
        PageCase{R"(<base target="_top"><BASE  HREF="/b/"><a href="a">)",
                 {"http://host/b/", "http://host/b/a"}},
        PageCase{R"x(<base href="javascript:x()"><a href="a">)x",
                 {"javascript:x()", "http://host/dir/a"}},
        PageCase{R"(<basement href="/b/"><a href="a">)", {"http://host/b/", "http://host/dir/a"}},
        PageCase{R"(<base href='/b/'><a href="a">)", {"http://host/dir/a"}},
        PageCase{
            R"(<base href='/b/'><a href="a">)", {"http://host/b/", "http://host/b/a"}, AnyQuotes},
        // Any quotes.
        PageCase{R"(<a href='a b'><a href=c>x</a><a HREF = "d"><a href=>)",
                 {"http://host/dir/a%20b", "http://host/dir/c", "http://host/dir/d",
                  "http://host/dir/page.html"},
                 AnyQuotes},
        PageCase{"<a href=\"a\" src='b.png'>", {"http://host/dir/b.png"}, AnyQuotes, true},
        // srcset: candidates with commas in URLs, data: URLs and invalid descriptors.
        PageCase{R"(<img srcset="a.png 1x, b,c.png 2x,d.png">)",
                 {"http://host/dir/a.png", "http://host/dir/b,c.png", "http://host/dir/d.png"},
                 SrcsetToo,
                 true},
        PageCase{"<img srcset=\"data:image/png;base64,AAA= 1x,\n e.png 100w 50h, f.png 2x 3x, "
                 "g.png 0w, h.png 10h, i.png (a, b) 1x\" imagesrcset=\"j.png\">",
                 {"data:image/png;base64,AAA=", "http://host/dir/e.png", "http://host/dir/j.png"},
                 SrcsetToo,
                 true},
        PageCase{R"(<img srcset="a.png 1x">)", {}, SrcsetToo, false},
        PageCase{R"(<img srcset="a.png 1x">)", {}, {}, true},
        PageCase{"<img srcset = 'k&amp;l.png 1.5x, m.png -1x'>",
                 {"http://host/dir/k&l.png"},
                 {true, true},
                 true}));

// --- Recording -------------------------------------------------------------

TEST_F(ExtractLinksTest, ListsAndQueuesEachHtmlLinkOncePerListedAddress) {
    scan("<a href=\"a.html\"><a href=\"b.html\"><a href=\"a.html\"><a href=\"a.html#x\">");
    links.SetPageAddress(QStringLiteral("http://host/dir/other.html"));
    scan("<a href=\"b.html\"><a href=\"c.html\">");
    const QStringList expected{"http://host/dir/a.html", "http://host/dir/b.html",
                               "http://host/dir/c.html"};
    EXPECT_EQ(results(), expected);
    EXPECT_EQ(links.crawl.queue, expected);
}

TEST_F(ExtractLinksTest, KeepsLinksThatDifferInCaseOrTrailingSlashApart) {
    scan(R"(<a href="page.html"><a href="page.html/"><a href="Page.html">)");
    EXPECT_EQ(results(), (QStringList{"http://host/dir/page.html", "http://host/dir/page.html/",
                                      "http://host/dir/Page.html"}));
}

TEST_F(ExtractLinksTest, ListsFileLinksEveryTimeAndNeverQueuesThem) {
    form.setOption2(true);
    scan(R"(<img src="a.png"><a href="x.html"><img src="a.png">)");
    EXPECT_EQ(results(), (QStringList{"http://host/dir/a.png", "http://host/dir/a.png"}));
    // The HTML link is not listed, but it is seen and queued all the same.
    EXPECT_EQ(links.crawl.queue, QStringList{"http://host/dir/x.html"});
    EXPECT_TRUE(links.crawl.seen.contains(QStringLiteral("http://host/dir/x.html")));
}

TEST_F(ExtractLinksTest, FileLinksLeaveNoTraceUnderRetrieveHtmlLinks) {
    scan(R"(<img src="a.png"><script src="b.js"></script>)");
    EXPECT_TRUE(results().isEmpty());
    EXPECT_TRUE(links.crawl.seen.isEmpty());
    EXPECT_TRUE(links.crawl.queue.isEmpty());
}

TEST_F(ExtractLinksTest, ReadsAnEmptyValueAsEmptyAndDropsAnUnterminatedOne) {
    form.setOption2(true);
    scan(R"(<img src=""><img src="b.png"><img src="c.png)");
    EXPECT_EQ(results(), (QStringList{"http://host/dir/page.html", "http://host/dir/b.png"}));
}

TEST_F(ExtractLinksTest, ReadsOnlyThePageLengthOfTheBuffer) {
    form.setOption2(true);
    links.page.bytes = R"(<img src="a.png"><img src="b.png">)";
    links.page.length = links.page.bytes.indexOf("b.png") + 2;
    links.ScanPageForLinks();
    EXPECT_EQ(results(), QStringList{"http://host/dir/a.png"});
    // A length past the buffer reads the buffer only.
    links.page.length = links.page.bytes.size() + 100;
    links.ScanPageForLinks();
    EXPECT_EQ(results().size(), 3);
}

TEST_F(ExtractLinksTest, ResolvesAgainstTheAddressThePageCameFrom) {
    links.SetPageAddress(QStringLiteral("http://host/dir"));
    scan(R"(<a href="a.html">)");
    // After a redirect to dir/, the page visit moves the base address.
    links.page.base = QStringLiteral("http://host/dir/");
    scan(R"(<a href="b.html">)");
    EXPECT_EQ(results(), (QStringList{"http://host/a.html", "http://host/dir/b.html"}));
}

TEST_F(ExtractLinksTest, ReadQuotedValueGivesTheValueAsWritten) {
    links.page.bytes = "href=\"a&amp;b \xe9\" y=\"tail";
    links.page.length = links.page.bytes.size();
    EXPECT_EQ(links.ReadQuotedValue(6), QStringLiteral("a&amp;b \u00e9"));
    EXPECT_TRUE(links.ReadQuotedValue(links.page.bytes.indexOf("tail")).isEmpty());
    EXPECT_TRUE(links.ReadQuotedValue(-1).isEmpty());
    EXPECT_TRUE(links.ReadQuotedValue(links.page.bytes.size() + 5).isEmpty());
}

TEST_F(ExtractLinksTest, RevealsEveryLinkItLists) {
    std::vector<int> revealed;
    QObject::connect(&form.ListView2, &ListView::revealRequested,
                     [&](int row) { revealed.push_back(row); });
    scan(R"(<a href="a.html"><a href="b.html"><a href="a.html">)");
    EXPECT_EQ(revealed, (std::vector<int>{0, 1}));
}

// --- Run flag, yields and options during a scan ------------------------------

TEST_F(ExtractLinksTest, ScansNothingOutsideARun) {
    form.setPushButton7Caption(Form1::StartCaption);
    scan(R"(<a href="a.html">)");
    EXPECT_TRUE(results().isEmpty());
}

TEST_F(ExtractLinksTest, StopsAtTheScanYieldWhereStopIsPressed) {
    shell.everyStep = true;
    shell.at(YieldPlace::Scan, 3, [&] { form.setPushButton7Caption(Form1::StartCaption); });
    scan(R"(<a href="a.html"><a href="b.html"><a href="c.html"><a href="d.html">)");
    EXPECT_EQ(results(), (QStringList{"http://host/dir/a.html", "http://host/dir/b.html"}));
    EXPECT_EQ(shell.yieldCounts[YieldPlace::Scan], 3);
}

TEST_F(ExtractLinksTest, FinishesTheValueBeingReadWhenStopIsPressedThere) {
    shell.everyStep = true;
    shell.at(YieldPlace::Value, 2, [&] { form.setPushButton7Caption(Form1::StartCaption); });
    scan(R"(<a href="a.html"><a href="b.html"><a href="c.html">)");
    EXPECT_EQ(results(), (QStringList{"http://host/dir/a.html", "http://host/dir/b.html"}));
}

TEST_F(ExtractLinksTest, StopsOnALongPageWithoutLinks) {
    shell.everyStep = true;
    shell.at(YieldPlace::Scan, 2, [&] { form.setPushButton7Caption(Form1::StartCaption); });
    QByteArray page(4 * LinkScanner::ChunkSize, ' ');
    page += R"(<a href="late.html">)";
    scan(page);
    EXPECT_TRUE(results().isEmpty());
    EXPECT_EQ(shell.yieldCounts[YieldPlace::Scan], 2);
}

TEST_F(ExtractLinksTest, KeepsYieldingWhileReadingALongValue) {
    shell.everyStep = true;
    QByteArray page = "<a href=\"";
    page += QByteArray(5 * LinkScanner::ChunkSize, 'x');
    scan(page);
    EXPECT_TRUE(results().isEmpty());
    EXPECT_GE(shell.yieldCounts[YieldPlace::Value], 5);
}

TEST_F(ExtractLinksTest, ReadsTheOptionsAtEachLink) {
    shell.everyStep = true;
    // Before the third link "Retrieve file links" is chosen, before the fifth
    // "Retrieve HTML links" again.
    shell.at(YieldPlace::Scan, 3, [&] { form.setOption2(true); });
    shell.at(YieldPlace::Scan, 5, [&] { form.setOption1(true); });
    scan(R"(<a href="a.html"><img src="1.png"><a href="b.html"><img src="2.png">)"
         R"(<a href="c.html"><img src="3.png">)");
    EXPECT_EQ(results(), (QStringList{"http://host/dir/a.html", "http://host/dir/2.png",
                                      "http://host/dir/c.html"}));
    EXPECT_EQ(links.crawl.queue, (QStringList{"http://host/dir/a.html", "http://host/dir/b.html",
                                              "http://host/dir/c.html"}));
}

} // namespace
