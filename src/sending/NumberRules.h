#pragma once
#include <QString>
#include <QStringView>

// Which strings count as phone numbers, how they are stored and which carrier class they fall in.

// True for the 28 three-digit mobile prefixes.
bool IsMobilePrefix(int firstThree);
bool IsValidNumber(QStringView number);
// "0" + mobile number (12 characters) loses the "0"; everything else is returned as it is.
QString NormalizeNumber(const QString &number);
// "1", "2", "3" or empty.
QString NumberClass(QStringView number);

// The same classes as small integers, for counting: 0 none, 1..3 the classes.
int NumberClassIndex(QStringView number);
int NumberClassIndexOfPrefix(int firstThree, bool startsWithZero);
