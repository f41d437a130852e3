#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

struct psl_ctx_st;
// The newest public suffix list there is: Debian's file, or the one built into
// libpsl. Loaded once, kept for the program's life.
const psl_ctx_st* PublicSuffixList();

// What the crawl of a listed address follows, and which results it lists. Both the
// visits and the pages fetched ahead of them ask here, so that a page that is not
// to be visited is never fetched either.
class CrawlScope {
public:
    enum class Hosts {
        Any,      // every host
        SameHost, // the host the listed address was delivered from
        SameSite, // the registrable domain of that host (public suffix list)
    };

    Hosts hosts = Hosts::Any;
    // A followed link matches at least one of include (when there are any) and
    // none of exclude; the expressions are unanchored.
    QList<QRegularExpression> include;
    QList<QRegularExpression> exclude;
    // Only results that match it are listed; an empty pattern lists every one.
    QRegularExpression match;
    // The most steps a followed page may be from the listed address; -1 for no limit.
    int maxDepth = -1;
    // Pages, the listed ones too, are fetched only where robots.txt allows it.
    bool robots = false;

    // The crawl of a listed address starts from where its page was delivered.
    void startAt(const QString& address);

    // True when an HTML link found on a page at depth - 1 is followed.
    bool follows(const QString& link, int depth) const {
        return withinDepth(depth) && inScope(link);
    }
    // The two halves of follows(): the hosts and patterns, and the depth.
    bool inScope(const QString& link) const;
    bool withinDepth(int depth) const { return maxDepth < 0 || depth <= maxDepth; }
    // True when a result is listed.
    bool lists(const QString& link) const;

    // The host of an address as the scope compares it: lower case, without port.
    static QString hostOf(const QString& address);
    // The registrable domain of a host ("example.co.uk" for "www.example.co.uk"); an
    // IP address, a single label (localhost) or a public suffix is its own site.
    static QString siteOf(const QString& host);

private:
    QString m_startHost;
    QString m_startSite;
};
