#include "sending/NumberEntry.h"

namespace NumberEntry {

KeyAction ReceiversKeyPress(const QString &textBefore, char16_t key)
{
    const bool digit = key >= u'0' && key <= u'9';
    if (!digit && key != Backspace && key != Enter && key != Paste)
        return KeyAction::Swallow;
    if (key == Backspace)
        return KeyAction::Pass;
    // A mobile number is complete on its 11th digit; a fixed-line one waits for Enter.
    if (textBefore.size() + 1 >= 11 && textBefore.startsWith(QLatin1Char('1')))
        return KeyAction::Submit;
    if ((key == Enter || key == Paste) && textBefore.startsWith(QLatin1Char('0')) && textBefore.size() >= 9)
        return KeyAction::Submit;
    return KeyAction::Pass;
}

ChangeAction ReceiversChange(const QString &text)
{
    for (QChar c : Candidate(text))
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return ChangeAction::Clear;
    if (text.size() > 11 && !text.startsWith(QLatin1Char('0')))
        return ChangeAction::PressEnter;
    return ChangeAction::None;
}

QString Candidate(const QString &text)
{
    qsizetype b = 0, e = text.size();
    auto blank = [](QChar c) { return c.unicode() <= 0x20; };
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    return text.mid(b, e - b);
}

} // namespace NumberEntry
