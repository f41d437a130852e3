#pragma once

class Shell;

// What a run reads live from whoever drives it (the window, or the command line):
// each read at the moment it matters, so that a change during a run takes effect
// with the next link or visit.
class RunHost {
public:
    virtual Shell& shell() = 0;
    // The run goes on while this holds; it ends at the next check once it drops.
    virtual bool keepRunning() const = 0;
    // File links (src, srcset) are recorded, else HTML links (href); read at each link.
    virtual bool recordsFileLinks() const = 0;
    // "Extract forever": the crawl of a listed address follows its HTML links;
    // read after the visit of each listed address.
    virtual bool followsLinks() const = 0;
    // A visit is about to start: the window shows its hourglass.
    virtual void visitsGoOn() {}

protected:
    ~RunHost() = default;
};
