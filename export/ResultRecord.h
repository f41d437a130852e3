#pragma once

#include "base/Shell.h"
#include "crawl/LinkCheck.h"
#include "crawl/ListedResult.h"

#include <QByteArray>

// A result with where it was found, as one line of JSON Lines (RFC 8259, UTF-8):
// {"url":…,"kind":…,"page":…,"listed":…,"depth":…} and LF.
QByteArray JsonRecord(const ListedResult& result);
// A page visit as one line of JSON Lines: {"url":…,"final":…,"status":…,"type":…,
// "bytes":…,"depth":…,"error":…} and LF; error is empty when the page came.
QByteArray VisitRecord(const VisitEnd& visit);

// The same as a record of CSV (RFC 4180: a field quoted when it holds a comma, a
// double quote, CR or LF, a double quote doubled; CR LF; UTF-8, no byte-order
// mark), under the header CsvHeader().
QByteArray CsvHeader();
QByteArray CsvRecord(const ListedResult& result);

// A checked result: the record of the result followed by what its check found,
// "status", "final", "redirects" (each hop's status and address), "error", and
// whether it counts as "broken".
QByteArray JsonCheckedRecord(const ListedResult& result, const LinkStatus& status, bool broken);
// The same in CSV, the redirects in one field ("302 ADDRESS 301 ADDRESS").
QByteArray CsvCheckedHeader();
QByteArray CsvCheckedRecord(const ListedResult& result, const LinkStatus& status, bool broken);

// A text as a JSON string, quotes included.
QByteArray JsonString(const QString& text);
// A text as a CSV field.
QByteArray CsvField(const QString& text);
