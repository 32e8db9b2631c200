#pragma once

#include <QString>
#include <exception>

// Base of every error whose text is shown to the user. `message()` is the complete sentence.
class UserFacingError : public std::exception {
public:
    explicit UserFacingError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};
