#pragma once
#include "sending/RecipientNumbers.h"
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <vector>

class TDataM;
class AccountDatabase;
class QSqlQuery;

// The send list: the table 发送缓存表 and its sorted in-memory mirror RecipientNumbers,
// with every way of filling, thinning and clearing it. Main thread only.
class SendList : public QObject {
    Q_OBJECT
public:
    explicit SendList(TDataM &dm, QObject *parent = nullptr);

    // The drag payload that carries a folder code from the folder tree to the number list.
    static QString folderMimeType() { return QStringLiteral("application/x-velaro-folder-code"); }

    const RecipientNumbers &numbers() const { return m_numbers; }
    // Entries per number class (index 0 none, 1..3 classes "1".."3"), kept up to date.
    const std::array<int, 4> &classCounts() const { return m_numbers.classCounts(); }

    // The composition row the numbers belong to; set by whoever owns the composition.
    int CompositionId = 1;
    // Hooks into the contact book: a new number becomes a contact, then the tree is redrawn.
    std::function<void(const QString &number)> AddAsNewContact;
    std::function<void()> ReloadTree;
    // Lets pending user-interface events run during long loops.
    std::function<void()> processEvents;

    bool HasRecipients() const { return !m_numbers.isEmpty(); }
    bool IsRecipient(const QString &number) const { return m_numbers.contains(number); }
    void AddToSendList(const QString &number);
    void ClearSendList();
    // Rebuilds the mirror from the table; the caption shows the progress meanwhile.
    void ReloadSendList(const std::atomic<bool> *cancel = nullptr);
    bool HasSendList();
    int SendListCount();
    // Sets the list's caption to its count.
    void RefreshCounts();
    QString caption() const { return m_caption; }

    // Typed entry: adds a candidate that passes the check; true when the field is to be emptied.
    bool SubmitTyped(const QString &candidate);
    // Asks, then deletes the given rows of the mirror from the table and the mirror.
    void DeleteSelected(const std::vector<int> &rows);
    // A folder's own contacts (not its sub-folders) join the list: menu item and drop.
    void AddFolderNumbers(const QString &folderCode);
    void DropFolderNumbers(const QString &folderCode);

    // Fast import: asks, lets chooseFile pick a file, moves its first column into the table
    // unchecked, then rebuilds the mirror from the table. Returns the numbers added.
    int FastImport(const std::function<QString()> &chooseFile);
    static QString fastImportQuestion();

    // Bulk additions for the importers: numbers already in the list are refused;
    // insertBatch writes the accepted ones in one transaction, endBulk shows them.
    void insertBatch(const std::vector<QString> &numbers);
    RecipientNumbers &mirror() { return m_numbers; }
    void endBulk();
    // A number new to the list becomes a contact when the new-number switch is on.
    void noteNewNumber(const QString &number);

    static int progressStep() { return 100; }
    static int eventStep() { return 512; }

signals:
    void aboutToReset();
    void reset();
    void aboutToInsert(int row);
    void inserted();
    void captionChanged(const QString &caption);
    void countsChanged();

private:
    AccountDatabase &db();
    void setCaption(const QString &c);
    void yieldEvents();

    TDataM &m_dm;
    RecipientNumbers m_numbers;
    QString m_caption;
};
