#pragma once

#include <QString>
#include <QStringList>
#include <ostream>

// Lets GoogleTest print Qt texts readably in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& texts, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < texts.size(); ++i)
        *os << (i ? ", " : "") << '"' << texts[i].toStdString() << '"';
    *os << '}';
}

// Bytes in quotes, control characters, non-ASCII bytes, '%' and '\' written as
// %XX: a one-line name for a table row (CTest names parameterised cases by it).
inline std::string QuotedRow(const char* bytes) {
    std::string out = "\"";
    for (const char* p = bytes; *p != '\0'; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if (b < 0x20 || b >= 0x7F || b == '%' || b == '\\') {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0xF];
        } else {
            out += static_cast<char>(b);
        }
    }
    return out + '"';
}
