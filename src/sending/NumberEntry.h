#pragma once
#include <QChar>
#include <QString>

// The rules of the number entry field: which keys it takes, when it submits, what a change does.
namespace NumberEntry {

inline constexpr char16_t Backspace = 8;
inline constexpr char16_t Enter = 13;
inline constexpr char16_t Paste = 22; // Ctrl+V

enum class KeyAction {
    Swallow, // the key is dropped
    Pass,    // the field handles the key as usual
    Submit,  // a digit is inserted first, then the field's text is submitted
};
// textBefore: the field's text before the key.
KeyAction ReceiversKeyPress(const QString &textBefore, char16_t key);

enum class ChangeAction {
    None,
    Clear,     // the field is emptied
    PressEnter // handled as if Enter had been pressed
};
ChangeAction ReceiversChange(const QString &text);

// The field's text without leading and trailing spaces and control characters.
QString Candidate(const QString &text);

} // namespace NumberEntry
