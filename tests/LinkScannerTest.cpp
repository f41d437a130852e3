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

std::vector<Match> Literal(const QByteArray& page) {
    return LiteralMatches(page.constData(), page.size());
}

std::vector<Match> Fast(const QByteArray& page, LinkScanner::Method method) {
    CollectingSink sink;
    EXPECT_TRUE(LinkScanner(method).scan(page.constData(), page.size(), sink));
    return sink.matches;
}

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

// Every method finds exactly what the literal scanner finds.
void ExpectSameAsLiteral(const QByteArray& page, const std::string& what) {
    const std::vector<Match> expected = Literal(page);
    for (auto m : SupportedMethods())
        ASSERT_EQ(Fast(page, m), expected) << what << " with " << Name(m);
}

// Pages made of fragments that come near the patterns, in random order and case.
QByteArray GeneratedPage(std::mt19937& rng, int pieces) {
    static const char* const fragments[] = {
        "<a href=\"", "HREF=\"", "src=\"",   "SrC=\"",    "data-src=\"", "lowsrc=\"", "xhref=\"",
        "href = \"",  "href='",  "src=",     "href",      "=\"",         "\"",        "hre",
        "f=\"",       "sr",      "c=\"",     "page.html", " ",           ">",         "<img ",
        "\n",         "=",       "class=\"", "async=\"",  "\xc3\xa9",    "\xd3\xd2",  "srcc=\"",
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
    const char alphabet[] = "hrefscHREFSC=\"= \"x\x83\xe3\xc3";
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
    EXPECT_EQ(sink.matches.back(), (Match{page.size(), true}));
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
    EXPECT_EQ(sink.matches, (std::vector<Match>{{15, true}}));
}

struct PatternCase {
    const char* page;
    std::vector<Match> matches;
};

void PrintTo(const PatternCase& c, std::ostream* os) {
    *os << QuotedRow(c.page);
}

class LinkScannerPatterns : public ::testing::TestWithParam<PatternCase> {};

// What the patterns accept and what they do not.
TEST_P(LinkScannerPatterns, MatchesExactlyThePatterns) {
    const QByteArray page(GetParam().page);
    ASSERT_EQ(Literal(page), GetParam().matches) << "the oracle itself";
    for (auto m : SupportedMethods())
        EXPECT_EQ(Fast(page, m), GetParam().matches) << Name(m);
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkScannerPatterns,
                         ::testing::Values(PatternCase{"", {}}, PatternCase{"src=", {}},
                                           PatternCase{"<A HREF=\"x.html\">", {{9, false}}},
                                           PatternCase{"<img src=\"a.png\">", {{10, true}}},
                                           PatternCase{"<img data-src=\"a.png\" lowsrc=\"b.png\">",
                                                       {{15, true}, {30, true}}},
                                           PatternCase{"<a xhref=\"x\">", {{10, false}}},
                                           PatternCase{
                                               "<a href =\"x\" href= \"y\" href='z' href=w>", {}},
                                           PatternCase{"href=\"src=\"", {{6, false}, {11, true}}},
                                           PatternCase{"href=\"", {{6, false}}}));

} // namespace
