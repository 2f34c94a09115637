#include "sending/NumberRules.h"
#include "sending/NumberEntry.h"
#include <QList>
#include <gtest/gtest.h>

struct NumberCase {
    const char *number;
    bool valid;
    const char *normalized;
    const char *numberClass;
};

TEST(NumberRules, CheckNormaliseAndClassOfEachCase)
{
    const NumberCase cases[] = {
        {"13812345678", true, "13812345678", "1"},
        {"12345678901", false, "12345678901", ""},  // 123 is no prefix and no leading 0
        {"013812345678", true, "13812345678", "3"}, // 0 + mobile: fixed-line shape, stored bare
        {"02012345678", true, "02012345678", "3"},
        {"020123456", false, "020123456", "3"},  // 9 digits
        {"0201234567", true, "0201234567", "3"}, // 10 digits, the shortest
        {"0201234567890", true, "0201234567890", "3"},
        {"02012345678901", false, "02012345678901", "3"}, // 14 digits
        {"15412345678", false, "15412345678", ""},
        {"18112345678", false, "18112345678", ""},
        {"015412345678", true, "015412345678", "3"},  // 154 is no prefix, so the 0 stays
        {"1381234567", false, "1381234567", "1"},     // mobile prefix, 10 digits
        {"138123456789", false, "138123456789", "1"}, // mobile prefix, 12 digits
        {"", false, "", ""},
        {"1381234567a", false, "1381234567a", "1"},
        {" 13812345678", false, " 13812345678", ""},
        {"013012345678", true, "13012345678", "3"},
        {"14712345678", true, "14712345678", "1"},
        {"15312345678", true, "15312345678", "2"},
        {"18912345678", true, "18912345678", "2"},
        {"18012345678", true, "18012345678", "2"},
        {"18212345678", true, "18212345678", "1"},
        {"0138123456789", true, "0138123456789", "3"}, // 13 characters: not the 12 that lose the 0
    };
    for (const auto &c : cases) {
        const QString n = QString::fromUtf8(c.number);
        EXPECT_EQ(IsValidNumber(n), c.valid) << c.number;
        EXPECT_EQ(NormalizeNumber(n), QString::fromUtf8(c.normalized)) << c.number;
        EXPECT_EQ(NumberClass(n), QString::fromUtf8(c.numberClass)) << c.number;
    }
}

TEST(NumberRules, PrefixTableIsTheTwentyEightPrefixesOfBothClasses)
{
    QList<int> prefixes, class1, class2;
    for (int p = 0; p < 1000; ++p) {
        if (IsMobilePrefix(p))
            prefixes << p;
        const QString n = QStringLiteral("%1").arg(p, 3, 10, QLatin1Char('0')) + QStringLiteral("12345678");
        if (NumberClass(n) == QLatin1String("1"))
            class1 << p;
        if (NumberClass(n) == QLatin1String("2"))
            class2 << p;
    }
    EXPECT_EQ(prefixes, (QList<int>{130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 147, 150, 151, 152,
                                    153, 155, 156, 157, 158, 159, 180, 182, 183, 185, 186, 187, 188, 189}));
    EXPECT_EQ(class1, (QList<int>{134, 135, 136, 137, 138, 139, 147, 150, 151, 152, 157, 158, 159, 182, 183,
                                  187, 188}));
    EXPECT_EQ(class2, (QList<int>{130, 131, 132, 133, 153, 155, 156, 180, 185, 186, 189}));
}

TEST(NumberEntry, KeysAndChangesOfTheEntryField)
{
    using NumberEntry::KeyAction;
    struct KeyCase {
        const char *before;
        char16_t key;
        KeyAction action;
    };
    const KeyCase keys[] = {
        {"1381234567", u'8', KeyAction::Submit}, // 11th digit of a mobile number
        {"138123456", u'7', KeyAction::Pass},
        {"1234567890", u'1', KeyAction::Submit}, // begins with 1: submitted, then fails the check
        {"2012345678", u'9', KeyAction::Pass},
        {"0201234567", NumberEntry::Enter, KeyAction::Submit},
        {"020123456", NumberEntry::Enter, KeyAction::Submit}, // 9 characters submit; the check refuses
        {"02012345", NumberEntry::Enter, KeyAction::Pass},
        {"020123456", NumberEntry::Paste, KeyAction::Submit},
        {"0201", NumberEntry::Paste, KeyAction::Pass},
        {"0201234567", u'8', KeyAction::Pass}, // a fixed-line number waits for Enter
        {"1381234567", NumberEntry::Backspace, KeyAction::Pass},
        {"138", u'a', KeyAction::Swallow},
        {"138", u' ', KeyAction::Swallow},
        {"", u'-', KeyAction::Swallow},
    };
    for (const auto &k : keys)
        EXPECT_EQ(NumberEntry::ReceiversKeyPress(QString::fromUtf8(k.before), k.key), k.action)
            << k.before << " key " << int(k.key);

    using NumberEntry::ChangeAction;
    EXPECT_EQ(NumberEntry::ReceiversChange(QStringLiteral("138a")), ChangeAction::Clear);
    EXPECT_EQ(NumberEntry::ReceiversChange(QStringLiteral("138 1234")), ChangeAction::Clear);
    EXPECT_EQ(NumberEntry::ReceiversChange(QStringLiteral("13812345678  ")), ChangeAction::PressEnter);
    EXPECT_EQ(NumberEntry::ReceiversChange(QStringLiteral("13812345678")), ChangeAction::None);
    EXPECT_EQ(NumberEntry::ReceiversChange(QStringLiteral("020123456789")), ChangeAction::None);
    EXPECT_EQ(NumberEntry::Candidate(QStringLiteral(" \t13812345678\r\n")), QStringLiteral("13812345678"));
}
