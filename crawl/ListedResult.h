#pragma once

#include <QLatin1String>
#include <QString>

// Which attribute a result was found in.
enum class LinkKind {
    Href, // an HTML link
    Src,  // a file link
};

// The name an output gives the kind: the attribute's own.
inline QLatin1String LinkKindName(LinkKind kind) {
    switch (kind) {
    case LinkKind::Src:
        return QLatin1String("src");
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
};
