#include "crawl/CrawlScope.h"

#include <QUrl>
#include <libpsl.h>

namespace {

bool MatchesAny(const QList<QRegularExpression>& patterns, const QString& text) {
    for (const QRegularExpression& pattern : patterns)
        if (pattern.match(text).hasMatch())
            return true;
    return false;
}

bool IsIpAddress(const QString& host) {
    if (host.contains(u':'))
        return true; // IPv6
    for (const QChar c : host)
        if (c != u'.' && (c < u'0' || c > u'9'))
            return false;
    return !host.isEmpty();
}

} // namespace

QString CrawlScope::hostOf(const QString& address) {
    // QUrl gives the host in lower case, an international one in its ACE form.
    return QUrl(address).host(QUrl::FullyEncoded);
}

QString CrawlScope::siteOf(const QString& host) {
    if (IsIpAddress(host) || !host.contains(u'.'))
        return host;
    const psl_ctx_t* list = PublicSuffixList();
    const QByteArray name = host.toUtf8();
    const char* site = list ? psl_registrable_domain(list, name.constData()) : nullptr;
    // A public suffix itself has no registrable domain: it is a site of its own.
    return site ? QString::fromUtf8(site) : host;
}

void CrawlScope::startAt(const QString& address) {
    if (hosts == Hosts::Any)
        return;
    m_startHost = hostOf(address);
    m_startSite = hosts == Hosts::SameSite ? siteOf(m_startHost) : QString();
}

bool CrawlScope::inScope(const QString& link) const {
    if (hosts != Hosts::Any) {
        const QString host = hostOf(link);
        if (hosts == Hosts::SameHost ? host != m_startHost : siteOf(host) != m_startSite)
            return false;
    }
    if (!include.isEmpty() && !MatchesAny(include, link))
        return false;
    return !MatchesAny(exclude, link);
}

bool CrawlScope::lists(const QString& link) const {
    return match.pattern().isEmpty() || match.match(link).hasMatch();
}

const psl_ctx_t* PublicSuffixList() {
    static const psl_ctx_t* const list = [] {
        const psl_ctx_t* latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return list;
}
