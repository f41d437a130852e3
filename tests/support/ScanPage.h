#pragma once

#include "crawl/HarvestRun.h"
#include "window/Form1.h"

#include <QByteArray>
#include <QString>

// Scans page as if it had just been downloaded from address during a run: the
// start button reads "Stop", the address is set up and the found links go to the
// results list. Returns the crawl state for the checks.
inline HarvestRun& ScanAsPage(Form1& form, const QString& address, const QByteArray& page) {
    form.setPushButton7Caption(Form1::StopCaption);
    HarvestRun& links = form.harvestRun();
    links.SetPageAddress(address);
    links.page.bytes = page;
    links.page.length = page.size();
    links.ScanPageForLinks();
    return links;
}
