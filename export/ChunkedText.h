#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Gathers the lines of an export and hands them on in large pieces, encoded as
// 8-bit text in the locale's encoding with no byte-order mark. Encoding and
// writing a megabyte at a time keeps a million-line export well under a second;
// a piece always ends at a line end, so no character is split between two.
class ChunkedText {
public:
    // Receives each encoded piece; may throw Failure (a write that failed).
    using Sink = std::function<void(const QByteArray& bytes)>;

    static constexpr qsizetype DefaultChunkChars = qsizetype(1) << 20;

    explicit ChunkedText(Sink sink, qsizetype chunkChars = DefaultChunkChars);

    // The text gathered so far; lines are appended here, CR LF included.
    QString& text() { return m_text; }
    // Call after each line: hands the text on once a piece is full.
    void lineDone() {
        if (m_text.size() >= m_chunkChars)
            flush();
    }
    // Hands on whatever is left.
    void flush();

private:
    Sink m_sink;
    qsizetype m_chunkChars;
    QString m_text;
};
