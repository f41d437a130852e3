#pragma once

#include "crawl/Sitemap.h"

#include <QSet>
#include <QString>
#include <functional>
#include <vector>

class FetchAhead;
class RunSink;
class Shell;
class URLMon;
struct RunSettings;

// The sitemaps of a site, as a run reads them before it visits a listed address
// there: those its robots.txt names on Sitemap lines, in order, and /sitemap.xml;
// a sitemap index's sitemaps are read in turn. Each is fetched through the run's
// download service, one at a time, so that what they list does not depend on
// timing. A sitemap that cannot be read is told to the run's sink as a visit that
// failed, with the reason; the run goes on. A missing /sitemap.xml (404, 410) is
// no failure: most sites have none.
class SitemapSource {
public:
    SitemapSource(URLMon& transfers, FetchAhead& ahead, const RunSettings& settings, RunSink& sink);

    // An address a sitemap lists, and the sitemap that lists it.
    struct Entry {
        QString address;
        QString sitemap;
    };
    // A sitemap that could not be read, as the sink was told it.
    struct Failed {
        QString address;
        QString reason;
        int status = 0;
    };
    // What reading a site's sitemaps came to: what a run keeps to take the same
    // path again without reading them.
    struct Reading {
        std::vector<Entry> pages;
        std::vector<Failed> failures;
        bool found = false;
    };

    // The sitemaps of the site of address (an http or https address in the form it
    // is fetched) are not those of the site read last.
    bool readsFor(const QString& address) const;
    // Reads the sitemaps of the site of address, unless they are those of the site
    // read last. Stops, keeping what it has, once keepGoing() answers false.
    void read(const QString& address, Shell& shell, const std::function<bool()>& keepGoing);
    // Takes reading as that of the site of address, read before, and tells the
    // sink its failures again, in their order: nothing is fetched.
    void restore(const QString& address, Reading&& reading);
    // What the site read last came to.
    const Reading& reading() const { return m_reading; }
    // The pages the site's sitemaps list, in their order, each once.
    const std::vector<Entry>& pages() const { return m_reading.pages; }
    // At least one sitemap of the site could be read.
    bool found() const { return m_reading.found; }
    // True when the sitemaps list the address of key (as keyOf() has it).
    bool listsKey(const QString& key) const { return m_keys.contains(key); }
    // Forgets the site read last.
    void clear();

    // An address as the comparison with a sitemap has it: without its fragment,
    // its path normalised, without a trailing slash.
    static QString keyOf(const QString& address);

    // At most this many sitemaps and pages are read for one site; an index nests
    // at most this deep (the protocol allows none: one level is tolerated).
    static constexpr int MaxSitemaps = 1000;
    static constexpr qsizetype MaxPages = 500000;
    static constexpr int MaxNesting = 2;

private:
    void readOne(const QString& address, int nesting, bool probe, Shell& shell,
                 const std::function<bool()>& keepGoing);
    void fail(const QString& address, const QString& reason, int status = 0);
    void tell(const Failed& failed);

    URLMon& m_transfers;
    FetchAhead& m_ahead;
    const RunSettings& m_settings;
    RunSink& m_sink;
    QString m_site; // the host key of the site read last
    Reading m_reading;
    QSet<QString> m_keys;
    QSet<QString> m_read; // the sitemaps asked for, by key
};
