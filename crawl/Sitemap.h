#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QStringList>

// What a run does with the sitemaps of the sites it visits (--sitemaps).
enum class SitemapMode {
    Off,
    Add,     // the pages a sitemap lists are visited after its listed address
    Only,    // the same, but no link of any page is followed
    Compare, // nothing more is visited: what the sitemap lists and what the links
             // reach are compared at the end of the crawl
};

// The name --sitemaps gives a mode ("off" for Off, which takes none).
inline QLatin1String SitemapModeName(SitemapMode mode) {
    switch (mode) {
    case SitemapMode::Add:
        return QLatin1String("add");
    case SitemapMode::Only:
        return QLatin1String("only");
    case SitemapMode::Compare:
        return QLatin1String("compare");
    case SitemapMode::Off:
        break;
    }
    return QLatin1String("off");
}

// One sitemap document as the sitemaps protocol (0.9) has it: a <urlset> whose
// <url><loc> are pages, or a <sitemapindex> whose <sitemap><loc> are further
// sitemaps. Only the <loc> of the protocol's own elements are taken, not those of
// an extension (<image:loc> and the like).
struct SitemapDocument {
    bool index = false;
    // The http and https addresses, in the document's order.
    QStringList addresses;
    // <loc>s left out: not an absolute http or https address.
    qsizetype otherAddresses = 0;
    // The document held more than MaxAddresses: the rest were left out.
    bool truncated = false;
    // Why the document is no sitemap (not XML, another root element); empty when
    // it is one.
    QString failure;

    // The protocol's limits on one document.
    static constexpr qsizetype MaxAddresses = 50000;
    static constexpr qint64 MaxBytes = 50 * 1024 * 1024;
};

// Reads a sitemap's XML.
SitemapDocument ParseSitemap(const QByteArray& xml);

// True when bytes start as gzip does (RFC 1952): a .xml.gz sitemap served as it is
// stored, not decoded by the transfer.
bool IsGzip(const QByteArray& bytes);
// Decodes a gzip body into *out, at most maxBytes, and not past checkBytes when that
// is more than maxExpansion times the bytes received (a decompression bomb, as for
// pages). False, with the reason, when it cannot be decoded or is too large.
bool Gunzip(const QByteArray& bytes, qint64 maxBytes, qint64 checkBytes, qint64 maxExpansion,
            QByteArray* out, QString* failure);
