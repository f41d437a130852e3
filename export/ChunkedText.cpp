#include "export/ChunkedText.h"

ChunkedText::ChunkedText(Sink sink, qsizetype chunkChars)
    : m_sink(std::move(sink)), m_chunkChars(chunkChars) {
    m_text.reserve(m_chunkChars + 4096);
}

void ChunkedText::flush() {
    if (m_text.isEmpty())
        return;
    const QByteArray bytes = m_text.toLocal8Bit();
    // Cleared before handing on: a piece that failed is not offered again.
    m_text.resize(0);
    m_sink(bytes);
}
