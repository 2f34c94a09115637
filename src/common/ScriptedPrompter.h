#pragma once
#include "common/Prompter.h"
#include <QStringList>
#include <deque>
#include <variant>
#include <vector>

// Answers in turn from a script and records every title and text shown.
// An unscripted question answers No/Cancel and is counted in unanswered().
class ScriptedPrompter : public Prompter {
public:
    enum class Kind { Information, Question, Input, Notify };
    struct Shown {
        Kind kind;
        QString title;
        QString text;
    };

    void answer(Answer a) { m_script.push_back(a); }
    void answerInput(std::optional<QString> text) { m_script.push_back(std::move(text)); }

    void information(const QString &text, const QString &title) override;
    Answer question(const QString &text, Buttons buttons, const QString &title) override;
    std::optional<QString> input(const QString &title, const QString &prompt, const QString &initial,
                                 bool password) override;
    void notify(const QString &title, const QString &text) override;

    const std::vector<Shown> &shown() const { return m_shown; }
    QStringList texts() const;
    QStringList texts(Kind kind) const;
    int unanswered() const { return m_unanswered; }
    size_t remainingAnswers() const { return m_script.size(); }
    void clear() { m_shown.clear(); m_unanswered = 0; }

private:
    std::deque<std::variant<Answer, std::optional<QString>>> m_script;
    std::vector<Shown> m_shown;
    int m_unanswered = 0;
};
