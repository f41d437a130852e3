#pragma once

#include <QString>
#include <QUrl>

// Resolves link values against a page's base address as a browser does
// (RFC 3986, section 5.2), keeping the parsed base between links.
class LinkResolver {
public:
    struct Result {
        // The link to record: the resolved address in its fully encoded form, or
        // the value as written when it does not resolve to a valid address.
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

private:
    QString m_baseText;
    QUrl m_base;
    bool m_baseUsable = false;
    bool m_parsed = false;
};
