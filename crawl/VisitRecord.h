#pragma once

#include "crawl/FetchAhead.h"
#include "crawl/SitemapSource.h"

#include <QString>

// One step of a run as it can be told again: a page the run was to visit, whether
// robots.txt let it, and what its visit got (the download's outcome, without its
// body, and every link the visit recorded, in order).
struct RecordedVisit {
    QString address;      // in the form it is fetched
    qsizetype listed = 0; // the position of its listed address in the list
    int depth = 0;
    bool allowed = true;
    FetchedPage page; // read: the links are those the visit recorded
};

// Where a run's steps are kept, and told again from: a run that has one asks it
// before each step, and is served the recorded step instead of fetching, until the
// first step it does not hold; from then on the run fetches and hands it each step
// that ended whole (not stopped, not cut short by a failure of the program).
// What a site's sitemaps came to (--sitemaps) is kept and told again the same way,
// as read before the step that visits the listed address.
// Since the order of a run is a function of its pages, the run told again takes
// the same steps and ends where an uninterrupted one would have.
class VisitRecord {
public:
    // Step number step (0-based) of the run, if it was recorded.
    virtual bool replay(qint64 step, RecordedVisit& visit) = 0;
    // Step number step ended whole, as told; what it holds may be taken.
    virtual void visited(qint64 step, RecordedVisit&& visit) = 0;
    // The sitemaps read before step number step, if they were recorded. A record
    // that has none there has no step from there on either.
    virtual bool replaySitemaps(qint64 step, SitemapSource::Reading& reading) = 0;
    // The sitemaps of the site of listed address number listed, read whole before
    // step number step.
    virtual void sitemapsRead(qint64 step, qsizetype listed,
                              const SitemapSource::Reading& reading) = 0;

protected:
    ~VisitRecord() = default;
};
