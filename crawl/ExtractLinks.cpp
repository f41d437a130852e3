#include "crawl/ExtractLinks.h"

#include "base/Pacer.h"
#include "base/Statements.h"
#include "crawl/CrawlHost.h"
#include "crawl/DocumentBase.h"
#include "crawl/LinkScanner.h"
#include "crawl/LinkValue.h"
#include "crawl/Srcset.h"
#include "lists/ListView.h"

#include <QScopeGuard>
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

    bool matched(const LinkMatch& match) override {
        m_pacer.step();
        if (!m_host.RunFlag())
            return false;
        m_links.LinkIsFile = match.isFile();
        m_links.LinkIsSrcset = match.kind == LinkKind::Srcset;
        m_links.LinkQuote = match.quote;
        m_links.RecordLink(match.valueStart, m_list);
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
    const auto endPacer = qScopeGuard([this] { m_valuePacer.reset(); });
    Silently([&] {
        if (!m_host.RunFlag())
            return;
        // A shared copy: the bytes stay valid whatever happens in a yield.
        const QByteArray page = PageBytes;
        const qsizetype length = UsableLength(page, PageLength);
        RecordingSink sink(*this, m_host, list);
        m_deliveryAddress = BaseAddress;
        BaseAddress =
            DocumentBase(page.constData(), length, BaseAddress, Scan, sink, &m_baseHrefStart);
        if (!m_host.RunFlag())
            return;
        m_valuePacer.emplace(m_host.shell(), YieldPlace::Value);
        LinkScanner(LinkScanner::Method::Best, Scan).scan(page.constData(), length, sink);
    });
    m_baseHrefStart = -1;
}

qsizetype ExtractLinks::findValueEnd(const QByteArray& page, qsizetype length, qsizetype p,
                                     ValueQuote quote) {
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
        const qsizetype to = from + std::min(LinkScanner::ChunkSize, length - from);
        const qsizetype end = FindValueEnd(d, from, to, quote);
        if (end >= 0)
            return end;
    }
    return -1;
}

QString ExtractLinks::ReadQuotedValue(qsizetype p) {
    QString value;
    Silently([&] {
        const QByteArray page = PageBytes;
        const qsizetype end =
            findValueEnd(page, UsableLength(page, PageLength), p, ValueQuote::Double);
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
    const qsizetype end = findValueEnd(page, UsableLength(page, PageLength), p, LinkQuote);
    // A value that no quote closes before the end of the page is dropped.
    if (end < 0)
        return;
    // The options are read now, at each link, so a change during a run takes
    // effect with the next link. Under "Retrieve HTML links" a file link leaves
    // no trace, so it is not even resolved.
    if (isFile && !m_host.Option2())
        return;
    // The base element's own href is read as the page's other links were before it.
    m_resolver.setBase(p == m_baseHrefStart ? m_deliveryAddress : BaseAddress);
    if (isFile && LinkIsSrcset) {
        for (const QString& url : SrcsetUrls(DecodeAttributeValue(page.constData() + p, end - p)))
            listResult(list, m_resolver.resolve(url, true).link, LinkKind::Srcset);
        return;
    }
    const QString value = CleanLinkValue(page.constData() + p, end - p);
    // File links are listed every time they are found, fragment and all.
    if (isFile) {
        listResult(list, m_resolver.resolve(value, true).link, LinkKind::Src);
        return;
    }
    // A fragment names a place in a page, not another page: page.html#a and
    // page.html#b are one link.
    const LinkResolver::Result resolved = m_resolver.resolve(value, false);
    if (SeenLinks.contains(resolved.link))
        return;
    SeenLinks.insert(resolved.link);
    // Its depth is fixed now, when it is first found.
    if (resolved.visitable && Scope.follows(resolved.link, PageDepth + 1)) {
        LinkQueue.append(resolved.link);
        LinkQueueDepths.append(PageDepth + 1);
    }
    if (m_host.Option1())
        listResult(list, resolved.link, LinkKind::Href);
}

void ExtractLinks::listResult(ListView& list, const QString& link, LinkKind kind) {
    if (!Scope.lists(link))
        return;
    list.EnsureVisible(list.Add(link));
    Tally.resultListed();
    if (onResultListed)
        onResultListed(ListedResult{link, kind, PageFinalAddress, ListedAddress, PageDepth});
}
