#include "crawl/PageLinks.h"

#include "crawl/CrawlScope.h"
#include "crawl/DocumentBase.h"
#include "crawl/LinkResolver.h"
#include "crawl/LinkValue.h"
#include "crawl/Srcset.h"

#include <QUrl>
#include <algorithm>

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

// Turns the scanner's matches into resolved links for the sink.
class Reader : public LinkSink {
public:
    Reader(const char* page, qsizetype length, PageLinkSink& sink)
        : m_page(page), m_length(length), m_sink(sink) {}

    void setBase(const QString& delivery, const QString& base, qsizetype baseHrefStart) {
        m_delivery.setBase(delivery);
        m_resolver.setBase(base);
        m_baseHrefStart = baseHrefStart;
    }

    bool matched(const LinkMatch& match) override {
        if (!m_sink.next())
            return false;
        const qsizetype p = match.valueStart;
        const qsizetype end = valueEnd(p, match.quote);
        if (end < 0 || !m_sink.wants(match.kind))
            return true;
        const char* value = m_page + p;
        const qsizetype size = end - p;
        switch (match.kind) {
        case LinkKind::Srcset:
            for (const QString& url : SrcsetUrls(DecodeAttributeValue(value, size)))
                take(m_resolver.resolve(url, true), LinkKind::Srcset);
            break;
        case LinkKind::Src:
            // File links are listed every time they are found, fragment and all.
            take(m_resolver.resolve(CleanLinkValue(value, size), true), LinkKind::Src);
            break;
        case LinkKind::Href:
            // A fragment names a place in a page, not another page. The base
            // element's own href is read as the links before it were.
            take((p == m_baseHrefStart ? m_delivery : m_resolver)
                     .resolve(CleanLinkValue(value, size), false),
                 LinkKind::Href);
            break;
        }
        return true;
    }

    bool progress(qsizetype scanned) override { return m_sink.progress(scanned); }

private:
    qsizetype valueEnd(qsizetype p, ValueQuote quote) {
        return FindValueEndPaced(m_page, m_length, p, quote, [this] { m_sink.valueStretch(); });
    }

    void take(LinkResolver::Result&& resolved, LinkKind kind) {
        PageLink link;
        link.link = std::move(resolved.link);
        link.kind = kind;
        link.visitable = kind == LinkKind::Href && resolved.visitable;
        m_sink.found(std::move(link));
    }

    const char* m_page;
    qsizetype m_length;
    PageLinkSink& m_sink;
    LinkResolver m_delivery;
    LinkResolver m_resolver;
    qsizetype m_baseHrefStart = -1;
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

QString ReadPageLinks(const char* page, qsizetype length, const QString& delivery,
                      const ScanRules& rules, PageLinkSink& sink) {
    Reader reader(page, length, sink);
    qsizetype baseHrefStart = -1;
    const QString base = DocumentBase(page, length, delivery, rules, reader, &baseHrefStart);
    if (!sink.proceed())
        return base;
    reader.setBase(delivery, base, baseHrefStart);
    LinkScanner(LinkScanner::Method::Best, rules).scan(page, length, reader);
    return base;
}

bool NamesAnotherScheme(const QString& address) {
    const QString s = address.trimmed();
    for (const char* scheme : {"javascript:", "mailto:", "data:"})
        if (s.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return true;
    if (!StartsWithSchemeAndSlashes(s))
        return false;
    const QStringView scheme = QStringView(s).left(s.indexOf(u':'));
    return scheme.compare(u"http", Qt::CaseInsensitive) != 0 &&
           scheme.compare(u"https", Qt::CaseInsensitive) != 0;
}

TakenLink TakeLink(const PageLink& link, int depth, QSet<QString>& seen, const CrawlScope& scope) {
    if (seen.contains(link.link))
        return {};
    seen.insert(link.link);
    // Its depth is fixed now, when it is first found.
    return {true, link.visitable && scope.follows(link.link, depth + 1)};
}
