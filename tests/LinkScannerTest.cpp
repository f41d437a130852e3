#include "crawl/LinkScanner.h"

#include "tests/support/LiteralScanner.h"
#include "tests/support/QtPrinters.h"

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

std::vector<Match> Literal(const QByteArray& page, ScanRules rules = {}) {
    return LiteralMatches(page.constData(), page.size(), rules);
}

std::vector<Match> Fast(const QByteArray& page, LinkScanner::Method method, ScanRules rules = {}) {
    CollectingSink sink;
    EXPECT_TRUE(LinkScanner(method, rules).scan(page.constData(), page.size(), sink));
    return sink.matches;
}

// The default rules and every widening of them.
const ScanRules AllRules[] = {{false, false}, {true, false}, {false, true}, {true, true}};

std::vector<LinkScanner::Method> SupportedMethods() {
    std::vector<LinkScanner::Method> methods;
    for (auto m :
         {LinkScanner::Method::Memchr, LinkScanner::Method::Sse2, LinkScanner::Method::Avx2}) {
        if (LinkScanner::Supports(m))
            methods.push_back(m);
    }
    return methods;
}

const char* Name(LinkScanner::Method m) {
    switch (m) {
    case LinkScanner::Method::Memchr:
        return "memchr";
    case LinkScanner::Method::Sse2:
        return "sse2";
    case LinkScanner::Method::Avx2:
        return "avx2";
    default:
        return "best";
    }
}

// Every method finds exactly what the literal scanner finds, under every rule.
void ExpectSameAsLiteral(const QByteArray& page, const std::string& what) {
    for (const ScanRules rules : AllRules) {
        const std::vector<Match> expected = Literal(page, rules);
        for (auto m : SupportedMethods())
            ASSERT_EQ(Fast(page, m, rules), expected)
                << what << " with " << Name(m) << ", any quotes " << rules.anyQuotes << ", srcset "
                << rules.srcset;
    }
}

// Pages made of fragments that come near the patterns, in random order and case.
QByteArray GeneratedPage(std::mt19937& rng, int pieces) {
    static const char* const fragments[] = {
        "<a href=\"",  "HREF=\"",
        "src=\"",      "SrC=\"",
        "data-src=\"", "lowsrc=\"",
        "xhref=\"",    "href = \"",
        "href='",      "src=",
        "href",        "=\"",
        "\"",          "hre",
        "f=\"",        "sr",
        "c=\"",        "page.html",
        " ",           ">",
        "<img ",       "\n",
        "=",           "class=\"",
        "async=\"",    "\xc3\xa9",
        "\xd3\xd2",    "srcc=\"",
        "srcset=\"",   "\t=\t",
        "SRCSET",      "'",
        "= '",         "imagesrcset = ",
    };
    std::uniform_int_distribution<size_t> pick(0, std::size(fragments) - 1);
    QByteArray page;
    for (int i = 0; i < pieces; ++i)
        page += fragments[pick(rng)];
    return page;
}

TEST(LinkScanner, FindsWhatTheLiteralScannerFindsOnGeneratedPages) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 400; ++round) {
        const QByteArray page = GeneratedPage(rng, round % 97);
        ExpectSameAsLiteral(page, "generated page " + std::to_string(round));
    }
}

// Random bytes from a small alphabet make the patterns, their near misses and the
// page's ends meet in every arrangement, at every offset of a vector.
TEST(LinkScanner, FindsWhatTheLiteralScannerFindsOnRandomBytes) {
    std::mt19937 rng(7);
    const char alphabet[] = "hrefscHREFSCtT=\"= \"x\x83\xe3\xc3'\t";
    std::uniform_int_distribution<size_t> letter(0, sizeof alphabet - 2);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (int round = 0; round < 3000; ++round) {
        QByteArray page(round % 200, '\0');
        const bool wholeRange = round % 5 == 0;
        for (char& c : page)
            c = wholeRange ? static_cast<char>(anyByte(rng)) : alphabet[letter(rng)];
        ExpectSameAsLiteral(page, "random page " + std::to_string(round));
    }
}

// Matches on both sides of the stretches the scanner works in, and right at the
// end of a long page.
TEST(LinkScanner, FindsMatchesAcrossStretchBoundaries) {
    QByteArray page(3 * LinkScanner::ChunkSize + 40, 'x');
    for (qsizetype boundary = LinkScanner::ChunkSize; boundary < page.size();
         boundary += LinkScanner::ChunkSize) {
        for (qsizetype offset = -8; offset <= 3; offset += 4)
            page.replace(boundary + offset, 6, "href=\"");
    }
    page.replace(page.size() - 5, 5, "src=\"");
    ExpectSameAsLiteral(page, "long page");
    CollectingSink sink;
    LinkScanner().scan(page.constData(), page.size(), sink);
    EXPECT_EQ(sink.progressCalls, 3);
    EXPECT_EQ(sink.matches.back(), Src(page.size()));
}

TEST(LinkScanner, FindsWhatTheLiteralScannerFindsOnRealHtml) {
    // Whatever HTML documentation this system has (up to 40 MB of it).
    int files = 0;
    qint64 bytes = 0;
    QDirIterator it(QStringLiteral("/usr/share/doc"), {QStringLiteral("*.html")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext() && files < 300 && bytes < 40'000'000) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray page = file.readAll();
        ExpectSameAsLiteral(page, file.fileName().toStdString());
        ++files;
        bytes += page.size();
    }
    if (files == 0)
        GTEST_SKIP() << "no HTML documentation on this system";
}

TEST(LinkScanner, EndsAtOnceWhenTheSinkSaysSo) {
    const QByteArray page = "href=\"a\" src=\"b\" href=\"c\" src=\"d\"";
    for (auto m : SupportedMethods()) {
        CollectingSink sink;
        sink.stopAtMatch = 2;
        EXPECT_FALSE(LinkScanner(m).scan(page.constData(), page.size(), sink));
        EXPECT_EQ(sink.matches.size(), 2u) << Name(m);
    }
}

TEST(LinkScanner, EndsBetweenStretchesWhenProgressSaysSo) {
    struct StopAtFirstProgress : CollectingSink {
        bool progress(qsizetype) override { return false; }
    } sink;
    QByteArray page(2 * LinkScanner::ChunkSize, ' ');
    page.replace(10, 7, "src=\"a\"");
    page.replace(LinkScanner::ChunkSize + 10, 7, "src=\"b\"");
    EXPECT_FALSE(LinkScanner().scan(page.constData(), page.size(), sink));
    EXPECT_EQ(sink.matches, std::vector<Match>{Src(15)});
}

struct PatternCase {
    const char* page;
    std::vector<Match> matches;
    ScanRules rules = {};
};

void PrintTo(const PatternCase& c, std::ostream* os) {
    *os << QuotedRow(c.page) << (c.rules.anyQuotes ? " any quotes" : "")
        << (c.rules.srcset ? " srcset" : "");
}

class LinkScannerPatterns : public ::testing::TestWithParam<PatternCase> {};

// What the patterns accept and what they do not.
TEST_P(LinkScannerPatterns, MatchesExactlyThePatterns) {
    const QByteArray page(GetParam().page);
    const ScanRules rules = GetParam().rules;
    ASSERT_EQ(Literal(page, rules), GetParam().matches) << "the oracle itself";
    for (auto m : SupportedMethods())
        EXPECT_EQ(Fast(page, m, rules), GetParam().matches) << Name(m);
}

constexpr ScanRules AnyQuotes{true, false};
constexpr ScanRules WithSrcset{false, true};
constexpr ValueQuote Single = ValueQuote::Single;
constexpr ValueQuote Unquoted = ValueQuote::None;

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkScannerPatterns,
    ::testing::Values(
        PatternCase{"", {}}, PatternCase{"src=", {}}, PatternCase{"<A HREF=\"x.html\">", {Href(9)}},
        PatternCase{"<img src=\"a.png\">", {Src(10)}},
        PatternCase{"<img data-src=\"a.png\" lowsrc=\"b.png\">", {Src(15), Src(30)}},
        PatternCase{"<a xhref=\"x\">", {Href(10)}},
        PatternCase{"<a href =\"x\" href= \"y\" href='z' href=w>", {}},
        PatternCase{"href=\"src=\"", {Href(6), Src(11)}}, PatternCase{"href=\"", {Href(6)}},
        // Without the srcset rule, srcset is no pattern; with it, imagesrcset is one too.
        PatternCase{"<img srcset=\"a.png 2x\">", {}},
        PatternCase{
            "<img srcset=\"a 2x\"><link imagesrcset=\"b\">", {Srcset(13), Srcset(38)}, WithSrcset},
        // Any quotes: as the HTML tokenizer reads attribute values.
        PatternCase{"<a href =\"x\" href= \"y\" href='z' href=w>",
                    {Href(10), Href(20), Href(29, Single), Href(37, Unquoted)},
                    AnyQuotes},
        PatternCase{"<a HREF\t=\n'x'><img src=>", {Href(11, Single), Src(23, Unquoted)}, AnyQuotes},
        PatternCase{"src = ", {}, AnyQuotes}, PatternCase{"a = b", {}, AnyQuotes},
        PatternCase{"<img srcset = 'a 1x'>", {Srcset(15, Single)}, ScanRules{true, true}}));

} // namespace
