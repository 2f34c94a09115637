#pragma once
#include <QString>
#include <optional>

// Every question, message and pop-up of the program goes through this interface,
// so the whole behaviour runs headless with a scripted implementation.
class Prompter {
public:
    enum class Buttons { YesNo, YesNoCancel, OkCancel };
    enum class Answer { Yes, No, Cancel, Ok };

    static QString defaultTitle() { return QStringLiteral("提示"); }

    virtual ~Prompter() = default;
    // Modal information box with the information icon and an OK button.
    virtual void information(const QString &text, const QString &title = defaultTitle()) = 0;
    // Modal question box with the question icon.
    virtual Answer question(const QString &text, Buttons buttons = Buttons::YesNo,
                            const QString &title = defaultTitle()) = 0;
    // Input box; nullopt when cancelled.
    virtual std::optional<QString> input(const QString &title, const QString &prompt,
                                         const QString &initial = QString(), bool password = false) = 0;
    // Non-modal notification pop-up.
    virtual void notify(const QString &title, const QString &text) = 0;
};
