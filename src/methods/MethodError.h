#pragma once
#include <QString>
#include <stdexcept>

namespace krp {

// An error a method raises with a text of its own; the framework reports it to the client
// (HTTP 500 with the message) and the server's error event logs it.
class MethodError : public std::runtime_error {
public:
    explicit MethodError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// The message of any error as Unicode text (what() is UTF-8).
inline QString messageOf(const std::exception& e)
{
    return QString::fromUtf8(e.what());
}

}  // namespace krp
