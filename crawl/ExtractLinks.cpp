#include "crawl/ExtractLinks.h"

#include "app/Pacer.h"
#include "app/Statements.h"
#include "crawl/CrawlHost.h"
#include "crawl/LinkScanner.h"
#include "crawl/LinkValue.h"
#include "lists/ListView.h"

#include <QUrl>
#include <algorithm>
#include <cstring>

namespace {

constexpr char16_t ByteOrderMark = 0xFEFF;

bool IsAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// RFC 3986 section 3.1: scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ),
// here followed by "://".
bool StartsWithSchemeAndSlashes(const QString& s) {
    if (s.isEmpty() || !IsAsciiLetter(s[0]))
        return false;
    for (qsizetype i = 1; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u':')
            return QStringView(s).mid(i).startsWith(u"://");
        if (!IsAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    return false;
}

// The bytes of the page that may be read: PageLength, but never past the buffer.
qsizetype UsableLength(const QByteArray& page, qsizetype length) {
    return std::clamp<qsizetype>(length, 0, page.size());
}

// Hands every match to RecordLink, yielding now and then. The run flag is tested
// before each match and between stretches of the page, so a Stop pressed in any
// yield (the scan's or the value reader's) ends the scan before the next link.
class RecordingSink : public LinkSink {
public:
    RecordingSink(ExtractLinks& links, CrawlHost& host, ListView& list)
        : m_links(links), m_host(host), m_list(list), m_pacer(host.shell(), YieldPlace::Scan) {}

    bool matched(qsizetype valueStart, bool isFile) override {
        m_pacer.step();
        if (!m_host.RunFlag())
            return false;
        m_links.LinkIsFile = isFile;
        m_links.RecordLink(valueStart, m_list);
        return true;
    }

    bool progress(qsizetype) override {
        m_pacer.step();
        return m_host.RunFlag();
    }

private:
    ExtractLinks& m_links;
    CrawlHost& m_host;
    ListView& m_list;
    Pacer m_pacer;
};

} // namespace

QString PageAddressOf(const QString& address) {
    QString s = address.trimmed();
    // The first line of a URL list file saved with a byte-order mark keeps it.
    while (s.startsWith(ByteOrderMark))
        s = s.mid(1).trimmed();
    if (s.isEmpty())
        return s;
    if (!StartsWithSchemeAndSlashes(s))
        s.prepend(QStringLiteral("http://"));
    QUrl url(s, QUrl::TolerantMode);
    if (url.isValid()) {
        if (!url.host().isEmpty() && url.path().isEmpty())
            url.setPath(QStringLiteral("/"));
        s = url.toString(QUrl::FullyEncoded);
    }
    // An address QUrl cannot read stays as written: its download fails.
    return s;
}

ExtractLinks::ExtractLinks(CrawlHost& host) : m_host(host) {}

void ExtractLinks::SetPageAddress(const QString& address) {
    Silently([&] {
        PageAddress = PageAddressOf(address);
        BaseAddress = PageAddress;
    });
}

void ExtractLinks::ScanPageForLinks(ListView& list) {
    // The value reader's pacer lives for this scan, however it ends.
    struct ScanPacer {
        std::optional<Pacer>& pacer;
        ~ScanPacer() { pacer.reset(); }
    } scanPacer{m_valuePacer};
    Silently([&] {
        if (!m_host.RunFlag())
            return;
        // A shared copy: the bytes stay valid whatever happens in a yield.
        const QByteArray page = PageBytes;
        RecordingSink sink(*this, m_host, list);
        m_valuePacer.emplace(m_host.shell(), YieldPlace::Value);
        LinkScanner().scan(page.constData(), UsableLength(page, PageLength), sink);
    });
}

qsizetype ExtractLinks::findValueEnd(const QByteArray& page, qsizetype length, qsizetype p) {
    if (p < 0 || p >= length)
        return -1;
    // The search yields before each stretch it looks at, so that even a value
    // running on for megabytes keeps the window alive.
    std::optional<Pacer> ownPacer;
    Pacer& pacer =
        m_valuePacer ? *m_valuePacer : ownPacer.emplace(m_host.shell(), YieldPlace::Value);
    const char* const d = page.constData();
    for (qsizetype from = p; from < length; from += LinkScanner::ChunkSize) {
        pacer.step();
        const qsizetype stretch = std::min(LinkScanner::ChunkSize, length - from);
        const void* quote = std::memchr(d + from, '"', static_cast<size_t>(stretch));
        if (quote != nullptr)
            return static_cast<const char*>(quote) - d;
    }
    return -1;
}

QString ExtractLinks::ReadQuotedValue(qsizetype p) {
    QString value;
    Silently([&] {
        const QByteArray page = PageBytes;
        const qsizetype end = findValueEnd(page, UsableLength(page, PageLength), p);
        if (end >= 0)
            value = DecodeValueBytes(page.constData() + p, end - p);
    });
    return value;
}

void ExtractLinks::RecordLink(qsizetype p, ListView& list) {
    Silently([&] { recordLink(p, list); });
}

void ExtractLinks::recordLink(qsizetype p, ListView& list) {
    const bool isFile = LinkIsFile;
    const QByteArray page = PageBytes;
    const qsizetype end = findValueEnd(page, UsableLength(page, PageLength), p);
    // A value that no quote closes before the end of the page is dropped.
    if (end < 0)
        return;
    // The options are read now, at each link, so a change during a run takes
    // effect with the next link. Under "Retrieve HTML links" a file link leaves
    // no trace, so it is not even resolved.
    if (isFile && !m_host.Option2())
        return;
    m_resolver.setBase(BaseAddress);
    const QString value = CleanLinkValue(page.constData() + p, end - p);
    if (isFile) {
        // File links are listed every time they are found, fragment and all.
        list.EnsureVisible(list.Add(m_resolver.resolve(value, true).link));
        Tally.resultListed();
        return;
    }
    // A fragment names a place in a page, not another page: page.html#a and
    // page.html#b are one link.
    const LinkResolver::Result resolved = m_resolver.resolve(value, false);
    if (SeenLinks.contains(resolved.link))
        return;
    SeenLinks.insert(resolved.link);
    if (resolved.visitable)
        LinkQueue.append(resolved.link);
    if (m_host.Option1()) {
        list.EnsureVisible(list.Add(resolved.link));
        Tally.resultListed();
    }
}
