#include "crawl/LinkResolver.h"

void LinkResolver::setBase(const QString& base) {
    if (m_parsed && base == m_baseText)
        return;
    m_parsed = true;
    m_baseText = base;
    m_base = QUrl(base, QUrl::TolerantMode);
    m_baseUsable = m_base.isValid() && !m_base.isRelative();
}

LinkResolver::Result LinkResolver::resolve(const QString& value, bool withFragment) const {
    const QUrl relative(value, QUrl::TolerantMode);
    QUrl target;
    if (m_baseUsable)
        target = m_base.resolved(relative);
    else if (relative.isValid() && !relative.isRelative())
        target = relative;
    if (!target.isValid() || target.isRelative())
        return {value, false};
    const QString scheme = target.scheme();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    // http: and https: addresses need a host (WHATWG URL Standard); "//" on its
    // own would otherwise become "http://".
    if (web && target.host().isEmpty())
        return {value, false};
    if (!withFragment)
        target.setFragment(QString());
    return {target.toString(QUrl::FullyEncoded), web};
}
