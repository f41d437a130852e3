#pragma once

#include "crawl/LinkScanner.h"

#include <QLatin1String>
#include <QString>

// The name an output gives the kind of attribute a result was found in: the
// attribute's own (imagesrcset candidates are "srcset" too).
inline QLatin1String LinkKindName(LinkKind kind) {
    switch (kind) {
    case LinkKind::Src:
        return QLatin1String("src");
    case LinkKind::Srcset:
        return QLatin1String("srcset");
    case LinkKind::Href:
        break;
    }
    return QLatin1String("href");
}

// Where a result comes from: a page's attribute, or a site's sitemap (--sitemaps).
enum class ResultSource : unsigned char {
    Page,
    Sitemap,     // an address a sitemap lists
    SitemapOnly, // one no visited page links to
    Unlisted,    // a visited page the sitemap does not list
};

// A result as it was listed, with where it was found.
struct ListedResult {
    QString link;
    LinkKind kind = LinkKind::Href;
    QString page;   // the final address of the page it was found on, after redirects
                    // (for one of a sitemap: the sitemap's address)
    QString listed; // the listed address the crawl started from, as it stands in the list
    int depth = 0;  // that page's steps from the listed address (0: the listed page)
    ResultSource source = ResultSource::Page;
    // The crawl queued it: it will be visited, unless the run ends first.
    bool followed = false;
};

// The kind an output gives a result: its attribute's, or where in the sitemap
// comparison it stands.
inline QLatin1String ResultKindName(const ListedResult& result) {
    switch (result.source) {
    case ResultSource::Sitemap:
        return QLatin1String("sitemap");
    case ResultSource::SitemapOnly:
        return QLatin1String("sitemap-only");
    case ResultSource::Unlisted:
        return QLatin1String("unlisted");
    case ResultSource::Page:
        break;
    }
    return LinkKindName(result.kind);
}

// A result as the lines, spaced and comma formats show it: its address; the
// records of a sitemap comparison have their kind and a blank before it, so that
// the two sides stay apart.
inline QString ResultLine(const ListedResult& result) {
    if (result.source == ResultSource::SitemapOnly || result.source == ResultSource::Unlisted)
        return ResultKindName(result) + QLatin1Char(' ') + result.link;
    return result.link;
}
