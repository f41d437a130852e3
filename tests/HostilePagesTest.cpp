#include "crawl/HarvestRun.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScanPage.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <random>

// Pages that try to break the scanner and the recording, fed straight to them as
// the page of http://host.example/dir/page.html. Each must be scanned to its
// end, record what the row says and nothing else, and queue only web addresses.

namespace {

const QString Base = QStringLiteral("http://host.example/dir/");

struct PageCase {
    const char* name;
    QByteArray (*page)();
    bool fileLinks; // "Retrieve file links" instead of "Retrieve HTML links"
    int listed;
    QString (*first)(); // the first result; nullptr when nothing is listed
    int queued;
};

void PrintTo(const PageCase& c, std::ostream* os) {
    *os << c.name;
}

QByteArray Repeated(const QByteArray& piece, int times) {
    QByteArray bytes;
    bytes.reserve(piece.size() * times);
    for (int i = 0; i < times; ++i)
        bytes += piece;
    return bytes;
}

// A megabyte of random bytes with no double quote in it, and one link halfway.
QByteArray BinaryWithOneLink() {
    std::mt19937 random(8);
    QByteArray bytes(1 << 20, Qt::Uninitialized);
    for (char& b : bytes) {
        b = static_cast<char>(random());
        if (b == '"')
            b = 0;
    }
    bytes.insert(bytes.size() / 2, "<a href=\"x.html\">");
    return bytes;
}

QByteArray ManyLinks() {
    QByteArray bytes;
    for (int i = 0; i < 100'000; ++i)
        bytes += "<a href=\"p" + QByteArray::number(i) + ".html\">";
    return bytes;
}

class HostilePage : public ::testing::TestWithParam<PageCase> {};

TEST_P(HostilePage, IsScannedToTheEndAndRecordsWhatItHolds) {
    ScriptedShell shell;
    Form1 form(shell);
    form.setOption2(GetParam().fileLinks);
    HarvestRun& links = ScanAsPage(form, Base + QStringLiteral("page.html"), GetParam().page());

    ASSERT_EQ(form.ListView2.Count(), GetParam().listed);
    if (GetParam().first) {
        EXPECT_EQ(form.ListView2.Text(1), GetParam().first());
    }
    EXPECT_EQ(links.crawl.queue.size(), GetParam().queued);
    for (const QString& link : links.crawl.queue)
        ASSERT_TRUE(link.startsWith(QLatin1String("http://"))) << qPrintable(link.left(200));
    if (!GetParam().fileLinks) {
        EXPECT_EQ(links.crawl.seen.size(), GetParam().listed);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, HostilePage,
    ::testing::Values(
        PageCase{"Empty", []() -> QByteArray { return QByteArray(); }, false, 0, nullptr, 0},
        PageCase{"BinaryWithOneLink", BinaryWithOneLink, false, 1,
                 []() -> QString { return Base + "x.html"; }, 1},
        // Every value is the five bytes up to the next pattern's quote; the last
        // one has no closing quote and is dropped.
        PageCase{"OnlyHrefRepeated", []() -> QByteArray { return Repeated("href=\"", 100'000); },
                 false, 1, []() -> QString { return Base + "href="; }, 1},
        PageCase{"OnlySrcRepeated", []() -> QByteArray { return Repeated("src=\"", 100'000); },
                 true, 99'999, []() -> QString { return Base + "src="; }, 0},
        // A NUL is a character of the link like any other, never its end.
        PageCase{"NulBytesInValue",
                 []() -> QByteArray { return QByteArray("<a href=\"a\0b.html\">", 19); }, false, 1,
                 []() -> QString { return Base + "a%00b.html"; }, 1},
        PageCase{"OnlyNulsInValue",
                 []() -> QByteArray { return QByteArray("<img src=\"\0\0\">", 14); }, true, 1,
                 []() -> QString { return Base + "%00%00"; }, 0},
        // A link no parser takes is listed as written, but never with a control
        // character in it: raw, it would reach the terminal and the result files.
        PageCase{
            "EscapeSequencesInALinkAsWritten",
            []() -> QByteArray { return QByteArray("<a href=\"http://[\x1b]0;T\x07\x1b[2J]/\">"); },
            false, 1, []() -> QString { return QStringLiteral("http://[%1B]0;T%07%1B[2J]/"); }, 0},
        PageCase{"EscapeByReferenceAndDel",
                 []() -> QByteArray { return QByteArray("<a href=\"http://[&#27;]\x7f/\">"); },
                 false, 1, []() -> QString { return QStringLiteral("http://[%1B]%7F/"); }, 0},
        PageCase{"NulAndC1ControlAsUtf8",
                 []() -> QByteArray { return QByteArray("<img src=\"http://[\0\xc2\x85]\">", 24); },
                 true, 1, []() -> QString { return QStringLiteral("http://[%00%C2%85]"); }, 0},
        // Bytes that are not UTF-8 are read one character each (Latin-1).
        PageCase{"InvalidUtf8",
                 []() -> QByteArray { return QByteArray("<a href=\"\xff\xfe.html\">"); }, false, 1,
                 []() -> QString { return Base + "%C3%BF%C3%BE.html"; }, 1},
        // Overlong forms of '.' are not dots: no step up out of the folder.
        PageCase{"OverlongDots",
                 []() -> QByteArray { return QByteArray("<a href=\"\xc0\xae\xc0\xae/x\">"); },
                 false, 1, []() -> QString { return Base + "%C3%80%C2%AE%C3%80%C2%AE/x"; }, 1},
        // Links to local files and other schemes are listed, never visited.
        PageCase{"LocalFileLink",
                 []() -> QByteArray { return QByteArray("<a href=\"file:///etc/passwd\">"); },
                 false, 1, []() -> QString { return QStringLiteral("file:///etc/passwd"); }, 0},
        PageCase{
            "DeepDotDotChain",
            []() -> QByteArray { return "<a href=\"" + Repeated("../", 100'000) + "x.html\">"; },
            false, 1, []() -> QString { return QStringLiteral("http://host.example/x.html"); }, 1},
        PageCase{
            "DeepDotDotChainInAnAbsoluteLink",
            []() -> QByteArray {
                return "<a href=\"http://other.example/" + Repeated("a/../", 100'000) + "x.html\">";
            },
            false, 1, []() -> QString { return QStringLiteral("http://other.example/x.html"); }, 1},
        PageCase{"Url64KiB",
                 []() -> QByteArray { return "<a href=\"" + QByteArray(64 * 1024, 'a') + "\">"; },
                 false, 1, []() -> QString { return Base + QString(64 * 1024, u'a'); }, 1},
        // No host name can be that long: listed as written, never visited.
        PageCase{"Host64KiB",
                 []() -> QByteArray {
                     return "<a href=\"http://" + QByteArray(64 * 1024, 'a') + "/x.html\">";
                 },
                 false, 1,
                 []() -> QString {
                     return QStringLiteral("http://") + QString(64 * 1024, u'a') + "/x.html";
                 },
                 0},
        PageCase{
            "ReferenceOfAMillionDigits",
            []() -> QByteArray { return "<a href=\"&#" + QByteArray(1'000'000, '9') + ";\">"; },
            false, 1, []() -> QString { return Base + "%EF%BF%BD"; }, 1},
        PageCase{"HundredThousandLinks", ManyLinks, false, 100'000,
                 []() -> QString { return Base + "p0.html"; }, 100'000}),
    [](const auto& info) { return std::string(info.param.name); });

// Pages of 100 MB and more: label "heavy".
INSTANTIATE_TEST_SUITE_P(Heavy, HostilePage,
                         ::testing::Values(PageCase{
                             "UnclosedValueOf100MB",
                             []() -> QByteArray {
                                 return "<a href=\"first.html\"><a href=\"" +
                                        QByteArray(100 << 20, 'x');
                             },
                             false, 1, []() -> QString { return Base + "first.html"; }, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
