#include "crawl/ExtractLinks.h"

#include "app/Form1.h"

ExtractLinks::ExtractLinks(Form1& form) : m_form(form) {}

void ExtractLinks::SetPageAddress(const QString& address) {
    PageAddress = address;
    BaseAddress = address;
}

void ExtractLinks::ScanPageForLinks(ListView& list) {
    (void)list;
}

QString ExtractLinks::ReadQuotedValue(qsizetype p) {
    (void)p;
    return {};
}

void ExtractLinks::RecordLink(qsizetype p, ListView& list) {
    (void)p;
    (void)list;
}
