#include "base/Failure.h"

#include <cstring>
#include <new>

Failure::Failure(QString description, int number)
    : m_description(std::move(description)), m_number(number), m_what(m_description.toUtf8()) {}

QString DescribeCurrentException() {
    try {
        throw;
    } catch (const Failure& f) {
        return f.description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unexpected failure");
    }
}

QString SystemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
