#include "window/CursorFile.h"

#include "base/Failure.h"

#include <QFile>
#include <QtEndian>

namespace {
constexpr int InvalidPicture = 481;
constexpr int PathFileAccessError = 75;
constexpr int DirectorySize = 6;
constexpr int EntrySize = 16;
constexpr int BitmapInfoHeaderSize = 40;

[[noreturn]] void invalidPicture() {
    throw Failure(QStringLiteral("Invalid picture"), InvalidPicture);
}

quint16 word(const QByteArray& bytes, int at) {
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 dword(const QByteArray& bytes, int at) {
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}
} // namespace

// The layout is the ICONDIR / ICONDIRENTRY pair of the Windows resource format:
// a cursor (type 2) keeps its hot spot where an icon keeps its planes and bit
// count. An icon has none of its own; it points with its centre.
CursorFileInfo ReadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(file.errorString(), PathFileAccessError);
    const qint64 fileSize = file.size();
    const QByteArray head = file.read(DirectorySize + EntrySize);
    if (head.size() < DirectorySize + EntrySize)
        invalidPicture();
    const quint16 type = word(head, 2);
    if (word(head, 0) != 0 || (type != 1 && type != 2) || word(head, 4) == 0)
        invalidPicture();
    if (fileSize < DirectorySize + qint64(EntrySize) * word(head, 4))
        invalidPicture();

    const int entry = DirectorySize;
    CursorFileInfo info;
    info.width = quint8(head[entry]) == 0 ? 256 : quint8(head[entry]);
    info.height = quint8(head[entry + 1]) == 0 ? 256 : quint8(head[entry + 1]);
    const quint32 imageSize = dword(head, entry + 8);
    const quint32 imageOffset = dword(head, entry + 12);
    if (imageSize < 8 || imageOffset < DirectorySize + EntrySize ||
        qint64(imageOffset) + imageSize > fileSize)
        invalidPicture();

    // The picture is a BITMAPINFOHEADER-led bitmap or, in newer files, a PNG.
    if (!file.seek(imageOffset))
        invalidPicture();
    const QByteArray start = file.read(8);
    const bool png = start == QByteArray("\x89PNG\r\n\x1a\n", 8);
    if (!png && (start.size() < 4 || dword(start, 0) != BitmapInfoHeaderSize ||
                 imageSize < BitmapInfoHeaderSize))
        invalidPicture();

    if (type == 2) {
        info.hotX = qMin<int>(word(head, entry + 4), info.width - 1);
        info.hotY = qMin<int>(word(head, entry + 6), info.height - 1);
    } else {
        info.hotX = info.width / 2;
        info.hotY = info.height / 2;
    }
    return info;
}
