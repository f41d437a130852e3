#pragma once

#include "crawl/CrawlScope.h"
#include "crawl/LinkScanner.h"
#include "crawl/Sitemap.h"
#include "crawl/URLMon.h"

// Everything a run is told before it starts: how pages are fetched, which
// attribute forms they are scanned for, what the crawl follows and lists, and how
// many pages it visits at most.
struct RunSettings {
    DownloadSettings download;
    ScanRules scan;
    CrawlScope scope;
    // Page visits in all, for the pages fetched ahead to stay within; 0: no limit.
    // Whoever drives the run stops it there.
    qint64 maxPages = 0;
    // A listed address that names a scheme other than http or https fails its
    // visit instead of being fetched with "http://" put in front.
    bool webAddressesOnly = false;
    // What the sitemaps of the listed addresses' sites add to the run.
    SitemapMode sitemaps = SitemapMode::Off;
};
