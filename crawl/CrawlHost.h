#pragma once

class Shell;

// What a run reads live from whoever started it (the window, or the command line
// through it): the run flag and the options, each read at the moment it matters,
// so that a change during a run takes effect with the next link or visit.
class CrawlHost {
public:
    virtual Shell& shell() = 0;
    // A run is in progress while this holds; it ends at the next check once it drops.
    virtual bool RunFlag() const = 0;
    // "Retrieve HTML links" and "Retrieve file links" (exactly one is selected).
    virtual bool Option1() const = 0;
    virtual bool Option2() const = 0;
    // "Extract forever": 1 when checked.
    virtual int Check2() const = 0;

protected:
    ~CrawlHost() = default;
};
