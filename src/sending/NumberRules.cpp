#include "sending/NumberRules.h"
#include <array>

namespace {

constexpr int kPrefixBase = 128;

// Class of each prefix 128..191: 0 not a mobile prefix, 1 or 2.
constexpr std::array<unsigned char, 64> makePrefixClasses()
{
    std::array<unsigned char, 64> t{};
    for (int p : {134, 135, 136, 137, 138, 139, 147, 150, 151, 152, 157, 158, 159, 182, 183, 187, 188})
        t[p - kPrefixBase] = 1;
    for (int p : {130, 131, 132, 133, 153, 155, 156, 180, 185, 186, 189})
        t[p - kPrefixBase] = 2;
    return t;
}
constexpr auto kPrefixClasses = makePrefixClasses();

int prefixClass(int firstThree)
{
    if (firstThree < kPrefixBase || firstThree >= kPrefixBase + int(kPrefixClasses.size()))
        return 0;
    return kPrefixClasses[firstThree - kPrefixBase];
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The first three characters as a number when they are all digits, else -1.
int firstThreeDigits(QStringView s)
{
    if (s.size() < 3 || !isDigit(s[0]) || !isDigit(s[1]) || !isDigit(s[2]))
        return -1;
    return (s[0].unicode() - '0') * 100 + (s[1].unicode() - '0') * 10 + (s[2].unicode() - '0');
}

} // namespace

bool IsMobilePrefix(int firstThree)
{
    return prefixClass(firstThree) != 0;
}

bool IsValidNumber(QStringView number)
{
    if (number.size() < 10)
        return false;
    for (QChar c : number)
        if (!isDigit(c))
            return false;
    if (IsMobilePrefix(firstThreeDigits(number)))
        return number.size() == 11;
    return number[0] == QLatin1Char('0') && number.size() <= 13;
}

QString NormalizeNumber(const QString &number)
{
    if (number.size() == 12 && number[0] == QLatin1Char('0') &&
        IsMobilePrefix(firstThreeDigits(QStringView(number).mid(1))))
        return number.mid(1);
    return number;
}

int NumberClassIndexOfPrefix(int firstThree, bool startsWithZero)
{
    const int c = prefixClass(firstThree);
    if (c)
        return c;
    return startsWithZero ? 3 : 0;
}

int NumberClassIndex(QStringView number)
{
    return NumberClassIndexOfPrefix(firstThreeDigits(number),
                                    !number.isEmpty() && number[0] == QLatin1Char('0'));
}

QString NumberClass(QStringView number)
{
    const int c = NumberClassIndex(number);
    return c ? QString::number(c) : QString();
}
