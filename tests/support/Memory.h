#pragma once

#include <QFile>
#include <QtGlobal>

// The resident memory of this process, from /proc/self/status: VmRSS now, and
// VmHWM, the peak since the process started or since ResetPeakResident().
namespace memory {

inline qint64 StatusKib(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray name = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

inline qint64 ResidentBytes() {
    return StatusKib("VmRSS") * 1024;
}

inline qint64 PeakResidentBytes() {
    return StatusKib("VmHWM") * 1024;
}

// Makes the peak start again from the memory resident now (Linux 4.0 and later).
inline void ResetPeakResident() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace memory
