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

// A result as it was listed, with where it was found.
struct ListedResult {
    QString link;
    LinkKind kind = LinkKind::Href;
    QString page;   // the final address of the page it was found on, after redirects
    QString listed; // the listed address the crawl started from, as it stands in the list
    int depth = 0;  // that page's steps from the listed address (0: the listed page)
    // The crawl queued it: it will be visited, unless the run ends first.
    bool followed = false;
};
