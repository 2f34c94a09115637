#pragma once
#include <QSet>
#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>
#include <vector>

// The in-memory mirror of the send list: a sorted set of numbers with binary search.
// Digit strings of up to 15 characters (every valid number) are packed into one 64-bit key
// whose integer order is their string order, so a million numbers take 8 MB; anything
// else (only unvalidated paths produce it) is kept as a string on the side.
// Counts per number class are kept up to date with every change.
class RecipientNumbers {
public:
    using Key = std::uint64_t;

    int count() const { return int(m_keys.size()); }
    bool isEmpty() const { return m_keys.empty(); }
    QString at(int i) const { return text(m_keys[size_t(i)]); }
    bool contains(QStringView number) const;
    int indexOf(QStringView number) const; // -1 when absent
    // The row a number not yet present would take.
    int insertionRow(const QString &number) const;
    // Sorted insert; false when already present.
    bool add(const QString &number);
    bool remove(QStringView number);
    // Removes the entries at the given rows (any order, duplicates allowed).
    void removeRows(std::vector<int> rows);
    void clear();
    // Replaces everything with the given numbers (sorted here, duplicates dropped).
    void assign(const std::vector<QString> &numbers);
    QStringList toStringList() const;

    // Bulk additions: add() checks and records in a pending set; commitPending() merges in one pass.
    // Between the two, count() and at() show only the merged entries; contains() sees both.
    bool addPending(const QString &number);
    int pendingCount() const { return int(m_pending.size()); }
    void commitPending();

    // Entries per class: index 0 none, 1..3 the classes "1".."3". Includes pending entries.
    const std::array<int, 4> &classCounts() const { return m_classCounts; }

    // Bytes held, for the memory figures.
    size_t memoryBytes() const;

private:
    Key keyFor(const QString &number);
    bool findKey(QStringView number, Key *key) const;
    QString text(Key k) const;
    bool less(Key a, Key b) const;
    int classOf(Key k) const;
    std::vector<Key>::const_iterator lowerBound(Key k) const;

    std::vector<Key> m_keys;
    std::vector<QString> m_others; // referenced by keys with the tag set
    std::vector<Key> m_pending;
    QSet<Key> m_pendingSet;
    QSet<QString> m_pendingOtherSet;
    std::array<int, 4> m_classCounts{};
};
