#include "sending/RecipientNumbers.h"
#include "sending/NumberRules.h"
#include <QStringList>
#include <algorithm>

namespace {

using Key = RecipientNumbers::Key;

constexpr int kMaxPacked = 15;
constexpr Key kOtherTag = Key(0xF) << 60;

bool isOther(Key k)
{
    return (k & kOtherTag) == kOtherTag;
}

// Each digit d becomes nibble d+1 from the top down; unused nibbles stay 0, so a prefix sorts
// before its extensions exactly as in string order.
bool pack(QStringView s, Key *out)
{
    if (s.size() > kMaxPacked)
        return false;
    Key k = 0;
    int shift = 56;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (u < '0' || u > '9')
            return false;
        k |= Key(u - '0' + 1) << shift;
        shift -= 4;
    }
    *out = k;
    return true;
}

QString unpack(Key k)
{
    QChar buf[kMaxPacked];
    int n = 0;
    for (int shift = 56; shift >= 0 && n < kMaxPacked; shift -= 4) {
        const int nib = int((k >> shift) & 0xF);
        if (!nib)
            break;
        buf[n++] = QChar(char16_t('0' + nib - 1));
    }
    return QString(buf, n);
}

} // namespace

QString RecipientNumbers::text(Key k) const
{
    return isOther(k) ? m_others[size_t(k & 0xFFFFFFFFu)] : unpack(k);
}

bool RecipientNumbers::less(Key a, Key b) const
{
    if (!isOther(a) && !isOther(b))
        return a < b;
    return text(a) < text(b);
}

int RecipientNumbers::classOf(Key k) const
{
    if (isOther(k))
        return NumberClassIndex(m_others[size_t(k & 0xFFFFFFFFu)]);
    const int d0 = int((k >> 56) & 0xF), d1 = int((k >> 52) & 0xF), d2 = int((k >> 48) & 0xF);
    const bool zero = d0 == 1;
    if (!d0 || !d1 || !d2)
        return zero ? 3 : 0;
    return NumberClassIndexOfPrefix((d0 - 1) * 100 + (d1 - 1) * 10 + (d2 - 1), zero);
}

bool RecipientNumbers::findKey(QStringView number, Key *key) const
{
    Key probe;
    std::vector<Key>::const_iterator it;
    if (pack(number, &probe)) {
        it = std::lower_bound(m_keys.begin(), m_keys.end(), probe,
                              [this](Key a, Key b) { return less(a, b); });
        if (it != m_keys.end() && *it == probe) {
            *key = probe;
            return true;
        }
        return false;
    }
    it = std::lower_bound(m_keys.begin(), m_keys.end(), number,
                          [this](Key a, QStringView s) { return QStringView(text(a)) < s; });
    if (it != m_keys.end() && isOther(*it) && text(*it) == number) {
        *key = *it;
        return true;
    }
    return false;
}

int RecipientNumbers::indexOf(QStringView number) const
{
    Key k;
    if (!findKey(number, &k))
        return -1;
    return int(lowerBound(k) - m_keys.begin());
}

int RecipientNumbers::insertionRow(const QString &number) const
{
    Key k;
    if (pack(number, &k))
        return int(lowerBound(k) - m_keys.begin());
    return int(std::lower_bound(m_keys.begin(), m_keys.end(), QStringView(number),
                                [this](Key a, QStringView s) { return QStringView(text(a)) < s; }) -
               m_keys.begin());
}

std::vector<Key>::const_iterator RecipientNumbers::lowerBound(Key k) const
{
    return std::lower_bound(m_keys.begin(), m_keys.end(), k, [this](Key a, Key b) { return less(a, b); });
}

bool RecipientNumbers::contains(QStringView number) const
{
    Key k;
    if (findKey(number, &k))
        return true;
    if (m_pending.empty())
        return false;
    if (pack(number, &k))
        return m_pendingSet.contains(k);
    return m_pendingOtherSet.contains(number.toString());
}

Key RecipientNumbers::keyFor(const QString &number)
{
    Key k;
    if (pack(number, &k))
        return k;
    m_others.push_back(number);
    return kOtherTag | Key(m_others.size() - 1);
}

bool RecipientNumbers::add(const QString &number)
{
    if (contains(number))
        return false;
    const Key k = keyFor(number);
    m_keys.insert(m_keys.begin() + (lowerBound(k) - m_keys.begin()), k);
    ++m_classCounts[size_t(classOf(k))];
    return true;
}

bool RecipientNumbers::addPending(const QString &number)
{
    if (contains(number))
        return false;
    const Key k = keyFor(number);
    m_pending.push_back(k);
    if (isOther(k))
        m_pendingOtherSet.insert(number);
    else
        m_pendingSet.insert(k);
    ++m_classCounts[size_t(classOf(k))];
    return true;
}

void RecipientNumbers::commitPending()
{
    if (m_pending.empty())
        return;
    auto cmp = [this](Key a, Key b) { return less(a, b); };
    std::sort(m_pending.begin(), m_pending.end(), cmp);
    std::vector<Key> merged;
    merged.reserve(m_keys.size() + m_pending.size());
    std::merge(m_keys.begin(), m_keys.end(), m_pending.begin(), m_pending.end(), std::back_inserter(merged),
               cmp);
    m_keys.swap(merged);
    m_pending = std::vector<Key>();
    m_pendingSet = QSet<Key>();
    m_pendingOtherSet = QSet<QString>();
}

bool RecipientNumbers::remove(QStringView number)
{
    const int i = indexOf(number);
    if (i < 0)
        return false;
    removeRows({i});
    return true;
}

void RecipientNumbers::removeRows(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    size_t out = 0, next = 0;
    for (size_t i = 0; i < m_keys.size(); ++i) {
        if (next < rows.size() && rows[next] == int(i)) {
            ++next;
            --m_classCounts[size_t(classOf(m_keys[i]))];
            if (isOther(m_keys[i]))
                m_others[size_t(m_keys[i] & 0xFFFFFFFFu)].clear();
            continue;
        }
        m_keys[out++] = m_keys[i];
    }
    m_keys.resize(out);
}

void RecipientNumbers::clear()
{
    m_keys = std::vector<Key>();
    m_others = std::vector<QString>();
    m_pending = std::vector<Key>();
    m_pendingSet = QSet<Key>();
    m_pendingOtherSet = QSet<QString>();
    m_classCounts = {};
}

void RecipientNumbers::assign(const std::vector<QString> &numbers)
{
    clear();
    for (const QString &n : numbers)
        addPending(n);
    commitPending();
}

QStringList RecipientNumbers::toStringList() const
{
    QStringList out;
    out.reserve(count());
    for (Key k : m_keys)
        out << text(k);
    return out;
}

size_t RecipientNumbers::memoryBytes() const
{
    size_t n = m_keys.capacity() * sizeof(Key) + m_pending.capacity() * sizeof(Key) +
               m_others.capacity() * sizeof(QString) + size_t(m_pendingSet.capacity()) * 2 * sizeof(Key);
    for (const QString &s : m_others)
        n += size_t(s.capacity()) * 2;
    return n;
}
