#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// A failure of one statement: what went wrong, in words a person can read, and
// where it matters the number that identifies it (a dialog's buffer overflow is 20476).
class Failure : public std::exception {
public:
    explicit Failure(QString description, int number = 0);

    const QString& description() const { return m_description; }
    int number() const { return m_number; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    int m_number;
    QByteArray m_what;
};

// The description of any exception that reaches a handler.
QString DescribeCurrentException();

// The system's text for an errno value ("No such file or directory").
QString SystemErrorText(int error);
