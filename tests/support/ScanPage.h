#pragma once

#include "crawl/ExtractLinks.h"
#include "window/Form1.h"

#include <QByteArray>
#include <QString>

// Scans page as if it had just been downloaded from address during a run: the
// start button reads "Stop", the address is set up and the found links go to the
// results list. Returns the crawl state for the checks.
inline ExtractLinks& ScanAsPage(Form1& form, const QString& address, const QByteArray& page) {
    form.setPushButton7Caption(Form1::StopCaption);
    ExtractLinks& links = form.extractLinks();
    links.SetPageAddress(address);
    links.PageBytes = page;
    links.PageLength = page.size();
    links.ScanPageForLinks(form.ListView2);
    return links;
}
