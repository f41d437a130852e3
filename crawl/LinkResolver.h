#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>

// Resolves link values against a page's base address as a browser does
// (RFC 3986, section 5.2), keeping the parsed base between links.
//
// Most links in real pages are plain: a relative path, or an http address, made
// of characters that need no encoding. Those are resolved with plain string work;
// everything else goes through QUrl. Both ways give the same text for a plain
// value (the tests hold them to it).
class LinkResolver {
public:
    struct Result {
        // The link to record: the resolved address in its fully encoded form, or
        // the value as written when it does not resolve to a valid address (its
        // control characters percent-encoded all the same).
        QString link;
        // True for a resolved http or https address with a host: one that can be
        // visited.
        bool visitable = false;
    };

    // Sets the base address; it is parsed only when its text changes.
    void setBase(const QString& base);
    const QString& base() const { return m_baseText; }

    // Resolves a cleaned value. withFragment false drops the fragment (#...).
    Result resolve(const QString& value, bool withFragment) const;
    // The same through QUrl alone, whatever the value.
    Result resolveWithQUrl(const QString& value, bool withFragment) const;

private:
    bool resolvePlain(QStringView value, bool withFragment, Result& result) const;

    QString m_baseText;
    QUrl m_base;
    bool m_parsed = false;
    bool m_baseUsable = false;
    // The base in pieces, when it is plain enough for the string path:
    // "scheme://authority", its path (from "/") and its query.
    bool m_basePlain = false;
    QString m_basePrefix;
    QString m_basePath;
    QString m_baseQuery;
    bool m_baseHasQuery = false;
};
