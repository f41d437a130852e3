#include "export/ResultRecord.h"

namespace {

const char Hex[] = "0123456789abcdef";

void AppendEscape(QByteArray& out, char16_t unit) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += Hex[(unit >> shift) & 0xF];
}

} // namespace

QByteArray JsonString(const QString& text) {
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        switch (u) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (u < 0x20 || u == 0x7F) {
            AppendEscape(out, u);
        } else if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (QChar::isHighSurrogate(u) && i + 1 < text.size() &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += QStringView(text).mid(i, 2).toUtf8();
            ++i;
        } else if (QChar::isSurrogate(u)) {
            // A lone surrogate has no UTF-8 form; the escape keeps it.
            AppendEscape(out, u);
        } else {
            out += QStringView(text).mid(i, 1).toUtf8();
        }
    }
    out += '"';
    return out;
}

namespace {

// A result's own fields, as a JSON object not yet closed.
QByteArray Fields(const ListedResult& result) {
    return "{\"url\":" + JsonString(result.link) +
           ",\"kind\":" + JsonString(ResultKindName(result)) +
           ",\"page\":" + JsonString(result.page) + ",\"listed\":" + JsonString(result.listed) +
           ",\"depth\":" + QByteArray::number(result.depth);
}

} // namespace

QByteArray JsonRecord(const ListedResult& result) {
    return Fields(result) + "}\n";
}

QByteArray VisitRecord(const VisitEnd& visit) {
    return "{\"url\":" + JsonString(visit.address) +
           ",\"final\":" + JsonString(visit.finalAddress) +
           ",\"status\":" + QByteArray::number(visit.status) +
           ",\"type\":" + JsonString(visit.contentType) +
           ",\"bytes\":" + QByteArray::number(visit.bytes) +
           ",\"depth\":" + QByteArray::number(visit.depth) +
           ",\"error\":" + JsonString(visit.failure) + "}\n";
}

QByteArray CsvField(const QString& text) {
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\r') ||
        field.contains('\n')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

QByteArray CsvHeader() {
    return "url,kind,page,listed,depth\r\n";
}

QByteArray CsvRecord(const ListedResult& result) {
    return CsvField(result.link) + ',' + CsvField(ResultKindName(result)) + ',' +
           CsvField(result.page) + ',' + CsvField(result.listed) + ',' +
           QByteArray::number(result.depth) + "\r\n";
}

namespace {

QByteArray Truth(bool value) {
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

} // namespace

QByteArray JsonCheckedRecord(const ListedResult& result, const LinkStatus& status, bool broken) {
    QByteArray hops = "[";
    for (const RedirectHop& hop : status.redirects) {
        if (hops.size() > 1)
            hops += ',';
        hops += "{\"status\":" + QByteArray::number(hop.status) +
                ",\"address\":" + JsonString(hop.address) + '}';
    }
    hops += ']';
    return Fields(result) + ",\"status\":" + QByteArray::number(status.status) +
           ",\"final\":" + JsonString(status.final) + ",\"redirects\":" + hops +
           ",\"error\":" + JsonString(status.error) + ",\"broken\":" + Truth(broken) + "}\n";
}

QByteArray CsvCheckedHeader() {
    return "url,kind,page,listed,depth,status,final,redirects,error,broken\r\n";
}

QByteArray CsvCheckedRecord(const ListedResult& result, const LinkStatus& status, bool broken) {
    QStringList hops;
    for (const RedirectHop& hop : status.redirects)
        hops << QString::number(hop.status) << hop.address;
    QByteArray record = CsvRecord(result);
    record.chop(2);
    return record + ',' + QByteArray::number(status.status) + ',' + CsvField(status.final) + ',' +
           CsvField(hops.join(QLatin1Char(' '))) + ',' + CsvField(status.error) + ',' +
           Truth(broken) + "\r\n";
}
