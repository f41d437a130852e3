#include "tests/support/CursorFileMaker.h"

#include <QtEndian>

namespace {
void put16(QByteArray& out, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void put32(QByteArray& out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}
} // namespace

QByteArray MakeCursorFile(int size, int hotX, int hotY, quint32 argb, int type) {
    const int maskRow = ((size + 31) / 32) * 4;
    const quint32 imageSize = 40 + size * size * 4 + maskRow * size;
    QByteArray out;
    // ICONDIR
    put16(out, 0);
    put16(out, quint16(type));
    put16(out, 1);
    // ICONDIRENTRY: a cursor keeps its hot spot where an icon keeps planes and bit count
    out.append(char(size & 0xff));
    out.append(char(size & 0xff));
    out.append(char(0));
    out.append(char(0));
    put16(out, quint16(type == 2 ? hotX : 1));
    put16(out, quint16(type == 2 ? hotY : 32));
    put32(out, imageSize);
    put32(out, 22);
    // BITMAPINFOHEADER: the height counts the colour rows and the mask rows
    put32(out, 40);
    put32(out, quint32(size));
    put32(out, quint32(size * 2));
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, quint32(size * size * 4 + maskRow * size));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int i = 0; i < size * size; ++i)
        put32(out, argb); // BGRA in memory, bottom row first
    out.append(QByteArray(maskRow * size, '\0'));
    return out;
}
