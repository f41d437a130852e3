#include "lists/FileToList.h"

#include "app/Failure.h"
#include "app/Messages.h"
#include "app/SystemIo.h"
#include "lists/ListView.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>
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
        m_fed = true;
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

    bool atStart() const { return !m_fed; }

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
    }

    const UrlListItemSink& m_add;
    QStringDecoder m_decoder;
    QByteArray m_pending;
    bool m_afterCr = false;
    bool m_endedWithLf = false;
    bool m_fed = false;
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
        const bool first = splitter.atStart();
        got = ReadFully(fd, buffer.data(), buffer.size());
        if (got < 0)
            throw Failure(SystemErrorText(errno));
        // Read as 8-bit text, UTF-16 would give an item per byte pair of garbage.
        if (first && got >= 2 &&
            (std::memcmp(buffer.constData(), "\xFF\xFE", 2) == 0 ||
             std::memcmp(buffer.constData(), "\xFE\xFF", 2) == 0))
            throw Failure(QStringLiteral("The file is UTF-16: save it as UTF-8."));
        splitter.feed(buffer.constData(), got);
    }
    splitter.finish();
}

void ReadUrlListFile(const QString& path, const UrlListItemSink& add, bool streams) {
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
    const bool stream = streams && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
    if (!S_ISREG(st.st_mode) && !stream)
        throw Failure(QStringLiteral("not a regular file"));
    // A stream is read with blocking reads, waiting for its writer.
    if (stream && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        throw Failure(SystemErrorText(errno));
    ReadUrlList(fd, add);
}

void LoadFileToListview(Shell& shell, ListView& list, const QString& path) {
    if (!FileExists(path)) {
        MsgBox(shell, MessageId::FileNotFound);
        return;
    }
    ReadUrlListFile(path, [&](const QString& item) { list.Add(item); });
}
