#include "crawl/LinkValue.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

struct CleanCase {
    const char* raw;
    const char16_t* cleaned;
};

void PrintTo(const CleanCase& c, std::ostream* os) {
    *os << QuotedRow(c.raw);
}

class CleanLinkValueTable : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanLinkValueTable, CleansTheValueAsABrowserReadsIt) {
    const QByteArray raw(GetParam().raw);
    EXPECT_EQ(CleanLinkValue(raw.constData(), raw.size()), QString::fromUtf16(GetParam().cleaned));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CleanLinkValueTable,
    ::testing::Values(
        CleanCase{"", u""}, CleanCase{"page.html", u"page.html"}, CleanCase{"a&amp;b", u"a&b"},
        CleanCase{"&lt;&gt;&quot;&apos;", u"<>\"'"}, CleanCase{"&#38;&#x26;&#X26;", u"&&&"},
        CleanCase{"&amp;amp;", u"&amp;"},
        // Not references: left as written.
        CleanCase{"&amp", u"&amp"}, CleanCase{"&foo;", u"&foo;"}, CleanCase{"&#;&#x;", u"&#;&#x;"},
        CleanCase{"&AMP;", u"&AMP;"},
        // Numbers that name no character.
        CleanCase{"&#0;", u"\uFFFD"}, CleanCase{"&#xD800;", u"\uFFFD"},
        CleanCase{"&#x110000;", u"\uFFFD"}, CleanCase{"&#99999999999999999999;", u"\uFFFD"},
        CleanCase{"&#x1F600;", u"\U0001F600"},
        // Whitespace: stripped around, tabs and line breaks dropped inside.
        CleanCase{" \t\n x.html \r\n", u"x.html"}, CleanCase{"a\tb\nc\rd", u"abcd"},
        CleanCase{"a b", u"a b"}, CleanCase{"\f x\f", u"x"}, CleanCase{"&#10;x&#9;y&#32;", u"xy"},
        // Bytes: UTF-8 where valid, else Latin-1.
        CleanCase{"caf\xc3\xa9", u"caf\u00e9"}, CleanCase{"caf\xe9", u"caf\u00e9"},
        CleanCase{"\xff\xfe", u"\u00ff\u00fe"}, CleanCase{"\xed\xa0\x80", u"\u00ed\u00a0\u0080"}));

} // namespace
