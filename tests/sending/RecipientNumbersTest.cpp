#include "sending/RecipientNumbers.h"
#include "sending/NumberRules.h"
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <set>

namespace {

void expectSameAs(const RecipientNumbers &m, const std::set<QString> &ref)
{
    ASSERT_EQ(m.count(), int(ref.size()));
    std::array<int, 4> classes{};
    int i = 0;
    for (const QString &s : ref) {
        ASSERT_EQ(m.at(i), s) << i;
        ASSERT_EQ(m.indexOf(s), i) << s.toStdString();
        ++classes[size_t(NumberClassIndex(s))];
        ++i;
    }
    EXPECT_EQ(m.classCounts(), classes);
}

} // namespace

TEST(RecipientNumbers, KeepsStringOrderAcrossPackedAndOtherEntries)
{
    // Prefixes, empty text, non-digits and numbers too long to pack sort as plain strings do.
    const QStringList mixed{"2",
                            "10",
                            "1",
                            "",
                            "13812345678",
                            "+8613812345678",
                            "1234567890123456",
                            "123456789012345",
                            "12345678901234567890",
                            "abc",
                            "0",
                            "00",
                            "0201234567",
                            "138 1234 5678",
                            "1381234567",
                            "99999999999999999"};
    RecipientNumbers m;
    std::set<QString> ref;
    for (const QString &s : mixed) {
        EXPECT_TRUE(m.add(s)) << s.toStdString();
        ref.insert(s);
    }
    for (const QString &s : mixed)
        EXPECT_FALSE(m.add(s)) << s.toStdString();
    expectSameAs(m, ref);
    EXPECT_FALSE(m.contains(u"13812345679"));
    EXPECT_FALSE(m.contains(u"ab"));
    EXPECT_EQ(m.indexOf(u"abcd"), -1);
}

TEST(RecipientNumbers, RandomAddsRemovalsAndBatchesMatchASortedSet)
{
    QRandomGenerator rng(42);
    auto randomNumber = [&] {
        static const char *heads[] = {"138", "130", "154", "0", "02", "1", "+86", "x"};
        QString s = QString::fromLatin1(heads[rng.bounded(8)]);
        const int len = int(rng.bounded(0, 17));
        for (int i = 0; i < len; ++i)
            s += QChar(u'0' + rng.bounded(3)); // few digits, many collisions and shared prefixes
        return s;
    };
    RecipientNumbers m;
    std::set<QString> ref;
    for (int round = 0; round < 30; ++round) {
        for (int i = 0; i < 40; ++i) {
            const QString s = randomNumber();
            EXPECT_EQ(m.add(s), ref.insert(s).second);
        }
        for (int i = 0; i < 60; ++i) {
            const QString s = randomNumber();
            const bool isNew = !ref.count(s);
            EXPECT_EQ(m.addPending(s), isNew);
            ref.insert(s);
            EXPECT_TRUE(m.contains(s));
        }
        m.commitPending();
        std::vector<int> rows;
        for (int i = 0; i < 10 && m.count(); ++i)
            rows.push_back(int(rng.bounded(m.count())));
        std::vector<QString> gone;
        for (int r : rows)
            gone.push_back(m.at(r));
        m.removeRows(rows);
        for (const QString &g : gone)
            ref.erase(g);
        expectSameAs(m, ref);
    }
    m.clear();
    EXPECT_EQ(m.count(), 0);
    EXPECT_EQ(m.classCounts(), (std::array<int, 4>{}));
}
