#pragma once
#include <QString>
#include <stdexcept>

// Every failure the user may see is raised as this error; its text is shown as it stands.
class VelaroError : public std::runtime_error {
public:
    explicit VelaroError(const QString &text) : std::runtime_error(text.toStdString()), m_text(text) {}
    const QString &text() const { return m_text; }

private:
    QString m_text;
};
