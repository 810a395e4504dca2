#pragma once

#include <QString>
#include <stdexcept>

// Every error raised by the audio components. The text is fixed English: it is
// meant for the sink's thread-exception event and for logs, not for a message
// box as it stands.
class EACSException : public std::runtime_error {
public:
    explicit EACSException(const QString& message)
        : std::runtime_error(message.toStdString()), MessageText(message)
    {
    }

    const QString& Message() const { return MessageText; }

private:
    QString MessageText;
};
