#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable failure output for Qt's strings: text as UTF-8, bytes with control
// characters escaped, instead of GoogleTest's dump of every element.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toUtf8().toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"';
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            *os << "\\r";
        else if (c == '\n')
            *os << "\\n";
        else if (c == '\t')
            *os << "\\t";
        else if (u < 0x20 || u == 0x7F)
            *os << "\\x"
                << "0123456789abcdef"[u >> 4] << "0123456789abcdef"[u & 15];
        else
            *os << c;
    }
    *os << "\" (" << bytes.size() << " bytes)";
}
