#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// The rules of one robots.txt for one user-agent token, as RFC 9309 has them:
// the groups whose user-agent names the token (case-insensitively), or else the
// "*" groups, taken together; the longest matching Allow or Disallow path wins,
// Allow on a tie; "*" matches any run of characters and a final "$" the end.
class RobotsTxt {
public:
    // Everything allowed: no robots.txt (a 4xx answer), or one without rules for us.
    RobotsTxt() = default;
    // Nothing allowed: the server could not say (a 5xx answer, no answer at all).
    static RobotsTxt disallowingAll();
    // The rules of text for agent. Only the first 500 KiB are read (section 2.5).
    static RobotsTxt parse(const QByteArray& text, const QString& agent);

    // True when the address (an absolute, encoded http or https address) may be
    // fetched.
    bool allows(const QString& address) const;

    // The values of its Sitemap lines, in order (they belong to no group), at most
    // MaxSitemaps.
    const QStringList& sitemaps() const { return m_sitemaps; }
    static constexpr qsizetype MaxSitemaps = 1000;

    // Where the robots.txt of an address's host and port is.
    static QString addressFor(const QString& address);

    static constexpr qsizetype ParsedBytes = 500 * 1024;

private:
    struct Rule {
        QByteArray path; // normalised, as it is compared
        bool allow = false;
    };
    std::vector<Rule> m_rules;
    bool m_disallowAll = false;
    QStringList m_sitemaps;
};
