#include "window/qt/CursorPicture.h"

#include "base/Statements.h"
#include "window/CursorFile.h"

#include <QImageReader>
#include <QPixmap>

std::optional<QCursor> LoadCursorPicture(const QString& path) {
    std::optional<QCursor> cursor;
    IgnoringFailures("LoadCursorPicture", [&] {
        const CursorFileInfo info = ReadCursorFile(path);
        // Qt's ico reader decodes cursor files too; it reads the first image,
        // whose hot spot the directory gives.
        QImageReader reader(path, QByteArrayLiteral("cur"));
        const QImage image = reader.read();
        if (image.isNull())
            return;
        cursor = QCursor(QPixmap::fromImage(image), qMin(info.hotX, image.width() - 1),
                         qMin(info.hotY, image.height() - 1));
    });
    return cursor;
}
