#include "crawl/ExtractLinks.h"

bool ExtractLinks::CrawlPage(ListView& list, const QString& address, int fileNumber) {
    (void)list;
    (void)fileNumber;
    SetPageAddress(address);
    return false;
}
