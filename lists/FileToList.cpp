#include "lists/FileToList.h"

#include "base/Failure.h"
#include "base/Messages.h"
#include "base/SystemIo.h"
#include "lists/ListView.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Cuts the bytes of a URL list into items as they arrive, in pieces of any size.
class UrlListSplitter {
public:
    explicit UrlListSplitter(const UrlListItemSink& add)
        : m_add(add),
          // Every item is decoded on its own: keep a byte-order mark wherever it
          // stands rather than drop it as the start of a text.
          m_decoder(QStringConverter::System, QStringConverter::Flag::ConvertInitialBom |
                                                  QStringConverter::Flag::Stateless) {}

    void feed(const char* data, qsizetype size) {
        if (m_atStart && size > 0) {
            m_atStart = false;
            // The byte-order mark of UTF-16, either way round: every other byte of
            // such a file is a NUL, and its lines would be nonsense.
            if (size >= 2 && ((data[0] == '\xFF' && data[1] == '\xFE') ||
                              (data[0] == '\xFE' && data[1] == '\xFF')))
                throw Failure(QStringLiteral("The file is UTF-16: save it as UTF-8."));
        }
        qsizetype i = 0;
        if (m_afterCr && size > 0) {
            m_afterCr = false;
            if (data[0] == '\n')
                ++i; // CR LF is one line end
        }
        while (i < size) {
            qsizetype end = i;
            while (end < size && data[end] != '\r' && data[end] != '\n')
                ++end;
            if (m_pending.size() + (end - i) > MaxLineBytes)
                throw Failure(
                    QStringLiteral("Line %1 is longer than 1 MiB; nothing was added.").arg(m_line));
            m_pending.append(data + i, end - i);
            if (end == size)
                return;
            emitPending();
            m_endedWithLf = data[end] == '\n';
            i = end + 1;
            if (data[end] == '\r') {
                if (i == size)
                    m_afterCr = true;
                else if (data[i] == '\n')
                    ++i;
            }
        }
    }

    // The last line needs no line end; after a lone LF at the very end the
    // empty remainder is an item too.
    void finish() {
        if (!m_pending.isEmpty() || m_endedWithLf)
            emitPending();
    }

private:
    void emitPending() {
        m_add(m_decoder.decode(m_pending));
        m_pending.resize(0);
        m_endedWithLf = false;
        ++m_line;
    }

    // No address is that long; a line that is has no line ends to stop it (a
    // file of NULs, a binary) and would take the memory.
    static constexpr qsizetype MaxLineBytes = 1 << 20;

    const UrlListItemSink& m_add;
    QStringDecoder m_decoder;
    QByteArray m_pending;
    bool m_afterCr = false;
    bool m_endedWithLf = false;
    bool m_atStart = true;
    qint64 m_line = 1;
};

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { ::close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};
} // namespace

void ReadUrlList(int fd, const UrlListItemSink& add) {
    UrlListSplitter splitter(add);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qsizetype got = buffer.size();
    // A short count is the end of the file.
    while (got == buffer.size()) {
        got = ReadFully(fd, buffer.data(), buffer.size());
        if (got < 0)
            throw Failure(SystemErrorText(errno));
        splitter.feed(buffer.constData(), got);
    }
    splitter.finish();
}

void ReadUrlListFile(const QString& path, const UrlListItemSink& add, bool streamsToo) {
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || native.contains('\0'))
        throw Failure(SystemErrorText(ENOENT));
    // O_NONBLOCK so that opening a FIFO does not wait for a writer; it changes
    // nothing for the regular files that are read.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw Failure(SystemErrorText(errno));
    Descriptor file(fd);
    // A folder, a FIFO or a device such as /dev/zero would hang the window or
    // fill the memory.
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw Failure(SystemErrorText(errno));
    const bool stream = streamsToo && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
    if (!S_ISREG(st.st_mode) && !stream)
        throw Failure(QStringLiteral("not a regular file"));
    // A stream is read as it comes: waiting for its writer is what was asked for.
    if (stream) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            throw Failure(SystemErrorText(errno));
    }
    ReadUrlList(fd, add);
}

void LoadFileToListview(Shell& shell, ListView& list, const QString& path) {
    if (!FileExists(path)) {
        MsgBox(shell, MessageId::FileNotFound);
        return;
    }
    // All or nothing: a file refused half-way adds none of its lines.
    QStringList staged;
    ReadUrlListFile(path, [&](const QString& item) { staged.append(item); });
    for (const QString& item : std::as_const(staged))
        list.Add(item);
}
