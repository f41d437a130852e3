#include "crawl/LinkResolver.h"

#include "crawl/LinkScanner.h"
#include "crawl/LinkValue.h"
#include "tests/support/QtPrinters.h"

#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>
#include <random>

namespace {

const char* const Bases[] = {
    "http://host/dir/page.html",
    "https://u:p@h.example:8443/a/b/?q=1&r",
    "http://host/",
    "http://host/dir",
    "http://127.0.0.1:8080/x/y/z.html?",
    "http://xn--bcher-kva.example/%C3%A4/x.html",
    "http://host/a%20b/c.html",
    "http://host/a/../b/",
    "http://host",
    "ftp://host/dir/",
    "",
    "not an address",
};

// The string path must give exactly what QUrl gives, for every value and base.
void ExpectSameAsQUrl(const LinkResolver& resolver, const QString& value) {
    for (bool withFragment : {false, true}) {
        const LinkResolver::Result fast = resolver.resolve(value, withFragment);
        const LinkResolver::Result slow = resolver.resolveWithQUrl(value, withFragment);
        ASSERT_EQ(fast.link, slow.link) << "value \"" << value.toStdString() << "\" on \""
                                        << resolver.base().toStdString() << "\"";
        ASSERT_EQ(fast.visitable, slow.visitable) << value.toStdString();
    }
}

TEST(LinkResolver, GivesWhatQUrlGivesForChosenValues) {
    const char* const values[] = {
        "",
        "#",
        "?",
        "#top",
        "?q=1&r=2",
        "p?",
        "p#",
        "p?#",
        "page.html",
        "sub/",
        "/about.html",
        "../up.html",
        "./",
        ".",
        "..",
        "../",
        "a/.",
        "a/..",
        "/..",
        "/./a",
        "a//b",
        "a/./b/../c",
        "..a/b",
        ".a",
        "a..",
        "a/b/../../..",
        "../../../../x",
        "//",
        "//cdn.example/x.js",
        "HTTP://Other/x",
        "HTTPS://X.Y/Z?Q#F",
        "http://a.b",
        "http://a.b?x",
        "http://a.b#x",
        "http://other/a/../b/./c",
        "http://127.1/",
        "http://1.2.3.4/",
        "http://host./x",
        "http://-a.b/",
        "http://a-.b/",
        "http://a..b/",
        "http://xn--zz/",
        "http://ab--c.d/",
        "http://a.b:80/",
        "http://u@a.b/",
        "http:x",
        "http:/x",
        "https://a.b/%7e",
        "mailto:a@b",
        "javascript:void(0)",
        "a!$&'()*+,;=@:b/c?x!$&'()*+,;=@:/?y#f!$&'()*+,;=@:/?z",
        "a:b",
        "a/b:c",
        "[x]",
        "a\"b",
        "a<b>",
        "a^b`c",
        "a{b}|c\\d",
        "%zz",
        "a%20b",
        "\xc3\xa9",
        "a b",
        "#a#b",
        "?a#b#c",
        "http://exa mple/",
        "http://\xc3\xa9.example/",
        "http://A.B/C/../D",
    };
    for (const char* base : Bases) {
        LinkResolver resolver;
        resolver.setBase(QString::fromUtf8(base));
        for (const char* value : values)
            ExpectSameAsQUrl(resolver, QString::fromUtf8(value));
    }
}

TEST(LinkResolver, GivesWhatQUrlGivesForRandomValues) {
    static const char* const pieces[] = {
        "a",     "B",     "0",       ".",        "..",       "/",  "//", "?", "#", ":",   "@",
        "%",     "%7e",   "%41",     "!",        "-",        "~",  "=",  "&", " ", "x.Y", "-z",
        "xn--a", "127.1", "http://", "HTTPS://", "\xc3\xa9", "\\", "[",  "]", "'", ";",   "+",
    };
    std::mt19937 rng(3986);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> count(0, 8);
    for (const char* base : Bases) {
        LinkResolver resolver;
        resolver.setBase(QString::fromUtf8(base));
        for (int round = 0; round < 4000; ++round) {
            QByteArray value;
            for (int n = count(rng); n > 0; --n)
                value += pieces[pick(rng)];
            ExpectSameAsQUrl(resolver, QString::fromUtf8(value));
        }
    }
}

TEST(LinkResolver, GivesWhatQUrlGivesForRealLinks) {
    class ValueSink : public LinkSink {
    public:
        explicit ValueSink(const QByteArray& page) : m_page(page) {}
        QStringList values;
        bool matched(const LinkMatch& match) override {
            const qsizetype start = match.valueStart;
            const qsizetype end = m_page.indexOf('"', start);
            if (end >= 0)
                values.append(CleanLinkValue(m_page.constData() + start, end - start));
            return true;
        }

    private:
        const QByteArray& m_page;
    };
    LinkResolver resolver;
    resolver.setBase(QStringLiteral("http://docs.example/3/library/os.path.html"));
    int files = 0;
    QDirIterator it(QStringLiteral("/usr/share/doc"), {QStringLiteral("*.html")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext() && files < 200) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray page = file.readAll();
        ValueSink sink(page);
        LinkScanner().scan(page.constData(), page.size(), sink);
        for (const QString& value : sink.values)
            ExpectSameAsQUrl(resolver, value);
        ++files;
    }
    if (files == 0)
        GTEST_SKIP() << "no HTML documentation on this system";
}

} // namespace
