#include "crawl/Sitemap.h"

#include <QUrl>
#include <QXmlStreamReader>
#include <zlib.h>

namespace {

bool IsWebAddress(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

} // namespace

SitemapDocument ParseSitemap(const QByteArray& xml) {
    SitemapDocument document;
    // Qt's reader resolves no external entity and bounds the expansion of internal
    // ones: a document cannot make it fetch or grow without end.
    QXmlStreamReader reader(xml);
    // The element being read at each depth: 1 the root, 2 <url> or <sitemap>, 3 <loc>.
    int depth = 0;
    QString rootNamespace;
    bool inEntry = false;
    bool inLoc = false;
    QString loc;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const QStringView name = reader.name();
            if (depth == 1) {
                if (name == QLatin1String("sitemapindex")) {
                    document.index = true;
                } else if (name != QLatin1String("urlset")) {
                    document.failure = QStringLiteral("not a sitemap: its root element is <") +
                                       reader.qualifiedName().toString() + QLatin1Char('>');
                    return document;
                }
                rootNamespace = reader.namespaceUri().toString();
            } else if (depth == 2) {
                inEntry =
                    reader.namespaceUri() == rootNamespace &&
                    name == (document.index ? QLatin1String("sitemap") : QLatin1String("url"));
            } else if (depth == 3 && inEntry && name == QLatin1String("loc") &&
                       reader.namespaceUri() == rootNamespace) {
                inLoc = true;
                loc.clear();
            }
        } else if (token == QXmlStreamReader::Characters && inLoc) {
            loc += reader.text();
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 3 && inLoc) {
                inLoc = false;
                const QString address = loc.trimmed();
                if (!IsWebAddress(address)) {
                    ++document.otherAddresses;
                } else if (document.addresses.size() == SitemapDocument::MaxAddresses) {
                    document.truncated = true;
                    return document;
                } else {
                    document.addresses.append(address);
                }
            }
            if (depth == 2)
                inEntry = false;
            --depth;
        }
    }
    if (reader.hasError())
        document.failure = QStringLiteral("not a sitemap: ") + reader.errorString() +
                           QStringLiteral(" at line ") + QString::number(reader.lineNumber());
    else if (depth == 0 && document.addresses.isEmpty() && rootNamespace.isNull() &&
             !document.index)
        document.failure = QStringLiteral("not a sitemap: no XML element");
    return document;
}

bool IsGzip(const QByteArray& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
           static_cast<unsigned char>(bytes[1]) == 0x8b;
}

bool Gunzip(const QByteArray& bytes, qint64 maxBytes, qint64 checkBytes, qint64 maxExpansion,
            QByteArray* out, QString* failure) {
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip header and trailer, not a zlib one.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        *failure = QStringLiteral("cannot decode gzip");
        return false;
    }
    const qint64 received = bytes.size();
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    out->clear();
    constexpr qint64 Chunk = 256 * 1024;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        const qint64 size = out->size();
        if (size >= maxBytes) {
            *failure = QStringLiteral("sitemap larger than %1 bytes").arg(maxBytes);
            break;
        }
        if (size > checkBytes && size > maxExpansion * received) {
            *failure =
                QStringLiteral("decompression bomb: expands more than %1 times").arg(maxExpansion);
            break;
        }
        const qint64 room = std::min(Chunk, maxBytes - size);
        out->resize(size + room);
        stream.next_out = reinterpret_cast<Bytef*>(out->data() + size);
        stream.avail_out = static_cast<uInt>(room);
        rc = inflate(&stream, Z_NO_FLUSH);
        out->resize(size + room - stream.avail_out);
        if (rc == Z_BUF_ERROR && stream.avail_in == 0) {
            *failure = QStringLiteral("gzip data cut short");
            break;
        }
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            *failure = QStringLiteral("broken gzip data");
            break;
        }
    }
    inflateEnd(&stream);
    if (rc == Z_STREAM_END)
        return true;
    out->clear();
    return false;
}
