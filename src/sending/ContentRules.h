#pragma once
#include <QByteArray>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <optional>

class TDataM;
struct HttpProxy;

// The rules a message passes before it is queued: cleaning, counting, splitting into parts,
// contact fields, forbidden words, and the forbidden-word list itself.

// Part length of an enhanced message (mobile numbers only).
constexpr int EmsPartLength = 67;

// Cleans the text when `filtrate` holds: every CR LF pair and every blank goes; a lone CR or LF stays.
QString FilterLineBreaks(const QString &text, bool filtrate);
// The same with the setting "FiltrateCRLF" (default "1").
QString FilterLineBreaks(const TDataM &dm, const QString &text);

// What splitting needs besides the text: the part limits of the login and the attached texts.
struct SplitSettings {
    int SegLenMobile = 0;
    int SegLenOther = 0;
    QString FirstWord, LastWord;
    static SplitSettings of(const TDataM &dm);
    // Limit of a mobile part, EMS or not.
    int mobileLimit(bool ems) const { return ems ? EmsPartLength : SegLenMobile; }
};

// Cuts a filtered text into parts of at most `limit` characters, each starting with firstWord,
// labelled "k>" unless ems, with lastWord once at the end. Empty when limit < 2 or text is empty.
// Raises VelaroError with a clear text when the attached texts leave no room in a part.
QStringList SplitMessage(const QString &text, int limit, bool ems, const QString &firstWord,
                         const QString &lastWord);
QStringList SplitMessage(const TDataM &dm, const QString &text, int limit, bool ems);

// Entries of the insert-field menu: the fixed fields, then the custom columns in their order.
QStringList InsertFieldEntries(const QString &customColumnList);
QStringList InsertFieldEntries(TDataM &dm);
bool IsPersonalised(const QString &text, const QStringList &entries);
bool IsPersonalised(TDataM &dm, const QString &text);

// The first contact of v_user with that number, or nullopt.
std::optional<QSqlRecord> FindContactFields(TDataM &dm, const QString &number);
// Replaces "[entry]" (any letter case) by the contact's trimmed value, or by nothing without a contact.
QString ExpandPlaceholders(const QString &text, const QStringList &entries,
                           const std::optional<QSqlRecord> &contact);
QString ExpandPlaceholders(TDataM &dm, const QString &text, const QString &number);

// The four forms the forbidden words are looked for in, before trimming.
struct WordCheckForms {
    QString asTyped;   // T0
    QString halfWidth; // T1: full-width letters, digits, signs and "。" made ASCII
    QString squeezed;  // T2: lower-cased letters, digits, "." and "-" only
    QString wide;      // T3: the characters that take two bytes
};
WordCheckForms MakeWordCheckForms(const QString &text);
// The forbidden words found, each preceded by CR LF; empty when none or on a database error.
QString CheckIllegalWords(TDataM &dm, const QString &text);

// Every distinct character GBK cannot hold, in order of appearance.
QStringList UnsendableCharacters(const QString &text);

// Message type from the three check boxes: "普通", "免提", "闪烁", "免提+闪烁", with "(EMS)".
struct MessageType {
    bool handsFree = false; // CheckBox2
    bool flash = false;     // CheckBox3
    bool ems = false;       // EMSCB
    QString text() const;
};
QString SpecialTariffNotice();
QString EmsTariffNotice();

// The compose group's caption for a filtered text; nullopt when it cannot be computed
// (the caption then keeps its last text).
std::optional<QString> CounterCaption(const QString &filteredText, const QStringList &entries,
                                      const SplitSettings &settings, bool ems);
QString ComposeGroupTitle();

// The figures of the send confirmation dialog.
struct SendTotals {
    int characters = 0, bytes = 0;
    qint64 mobileParts = 0, otherParts = 0;
    qint64 mobileNumbers = 0, otherNumbers = 0;
    qint64 messages = 0, balance = 0, charge = 0;
    QString wordsText() const;         // after "本次发送字数："
    QString mobileNumbersText() const; // after "移动联通号码个数："
    QString otherNumbersText() const;  // after "小灵通号码个数："
    QString messagesText() const;      // after "共发短信条数："
    QString balanceText() const;       // after "您的当前余额："
    QString chargeText() const;        // after "本次发送所需资费:"
};
// Numbers are counted by class by the recipient list, so the list is not read here.
// Raises VelaroError when the text cannot be split.
SendTotals ComputeSendTotals(const QString &filteredText, const SplitSettings &settings,
                             const MessageType &type, qint64 mobileNumbers, qint64 otherNumbers,
                             qint64 balance);

// "内容检查": checks the compose box text as it is and shows what is wrong; true when nothing is.
bool CheckContent(TDataM &dm, const QString &memoText, bool ems);
// The send button's content checks on the filtered text, for the classes that have recipients:
// the refusal text, or empty when the text may be sent.
QString SendContentRefusal(TDataM &dm, const QString &filteredText, bool ems, bool hasMobile, bool hasOther);

// Splits the gateway's word list: items separated by runs of blanks, tabs and line breaks,
// an item in double quotes keeps its blanks.
QStringList ParseFilterWordList(const QString &list);
// Replaces 过滤表 by the words the gateway sent (GBK bytes).
void LoadFilterWordsFromGateway(TDataM &dm, const QByteArray &filterString);

// A downloaded word list: the words, or the error's text.
struct FilterWordsDownload {
    QStringList words;
    QString error;
    bool ok() const { return error.isNull(); }
};
// The word lines of a downloaded page (GBK): the charset meta line removed, tabs as line breaks.
QStringList FilterWordLines(const QByteArray &body);
// Fetches the list over HTTP; blocking and free of the database, so any thread may run it.
FilterWordsDownload FetchFilterWords(const QString &url, const HttpProxy &proxy, int timeoutMs = 30000);
// Replaces 过滤表 by a fetched list in one transaction, or shows why not (the old list then stays).
bool StoreFilterWords(TDataM &dm, const FilterWordsDownload &download);
// Fetch and store on the calling thread, through the login's proxy.
bool DownloadFilterWords(TDataM &dm, const QString &url, int timeoutMs = 30000);
QString FilterDownloadFailedText();
