#pragma once

#include "crawl/LinkScanner.h"

#include <QString>
#include <optional>

// The base address of a page (RFC 3986 section 5.1.1, HTML's document base URL):
// the href of its first <base> element that has one, resolved against the
// address the page was delivered from, when that gives an http or https
// address; the delivery address otherwise.

// The match of the href value of the first <base> element that has one, found
// by the rules (the element name in any case, the attributes as the scanner
// reads them); progress hears of each stretch looked at and may end the search.
std::optional<LinkMatch> FindBaseHref(const char* data, qsizetype length, ScanRules rules,
                                      LinkSink& progress);

// The address the relative links of the page resolve against. hrefStart, when
// given, receives where the value of the base element's href starts (-1 when
// there is none): that value itself resolves against the delivery address.
QString DocumentBase(const char* data, qsizetype length, const QString& address, ScanRules rules,
                     LinkSink& progress, qsizetype* hrefStart = nullptr);
