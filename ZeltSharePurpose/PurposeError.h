#pragma once

#include <QString>

#include <stdexcept>

// Why a share from the Share menu cannot go on, in the one line the menu shows the user.
class PurposeError : public std::runtime_error
{
public:
    explicit PurposeError(const QString &text)
        : std::runtime_error(text.toStdString())
        , m_text(text)
    {}
    const QString &text() const { return m_text; }

private:
    QString m_text;
};
