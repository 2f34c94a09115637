#include "common/ScriptedPrompter.h"

void ScriptedPrompter::information(const QString &text, const QString &title)
{
    m_shown.push_back({Kind::Information, title, text});
}

Prompter::Answer ScriptedPrompter::question(const QString &text, Buttons buttons, const QString &title)
{
    m_shown.push_back({Kind::Question, title, text});
    if (!m_script.empty() && std::holds_alternative<Answer>(m_script.front())) {
        Answer a = std::get<Answer>(m_script.front());
        m_script.pop_front();
        return a;
    }
    ++m_unanswered;
    return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
}

std::optional<QString> ScriptedPrompter::input(const QString &title, const QString &prompt,
                                               const QString &, bool)
{
    m_shown.push_back({Kind::Input, title, prompt});
    if (!m_script.empty() && std::holds_alternative<std::optional<QString>>(m_script.front())) {
        auto v = std::get<std::optional<QString>>(m_script.front());
        m_script.pop_front();
        return v;
    }
    ++m_unanswered;
    return std::nullopt;
}

void ScriptedPrompter::notify(const QString &title, const QString &text)
{
    m_shown.push_back({Kind::Notify, title, text});
}

QStringList ScriptedPrompter::texts() const
{
    QStringList out;
    for (const auto &s : m_shown)
        out << s.text;
    return out;
}

QStringList ScriptedPrompter::texts(Kind kind) const
{
    QStringList out;
    for (const auto &s : m_shown)
        if (s.kind == kind)
            out << s.text;
    return out;
}
