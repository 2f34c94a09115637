#include "sending/ContentRules.h"
#include "app/HttpClient.h"
#include "common/GbkCodec.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "store/dm.h"
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString FullWidthSigns =
    QStringLiteral("ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲ"
                   "ＳＴＵＶＷＸＹＺ｀１２３４５６"
                   "７８９０－＝＼～！＃＄％＾＆（）＿＋｜［］｛｝；＇：＂，。／＜＞？");
const QString HalfWidthSigns = QStringLiteral(
    R"(abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ`1234567890-=\~!#$%^&()_+|[]{};':",./<>?)");
const QString SqueezedKeeps = QStringLiteral("abcdefghijklmnopqrstuvwxyz1234567890.-");

QString unsendableName(const QString &ch)
{
    const auto cps = ch.toUcs4();
    return ch + QStringLiteral(" (U+%1)").arg(cps.value(0), 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString FilterLineBreaks(const QString &text, bool filtrate)
{
    if (!filtrate)
        return text;
    QString s = text;
    s.remove(QStringLiteral("\r\n"));
    s.remove(QLatin1Char(' '));
    return s;
}

QString FilterLineBreaks(const TDataM &dm, const QString &text)
{
    return FilterLineBreaks(text, dm.ReadSetting(QStringLiteral("FiltrateCRLF"), QStringLiteral("1")) ==
                                      QLatin1String("1"));
}

SplitSettings SplitSettings::of(const TDataM &dm)
{
    return {dm.SegLenMobile, dm.SegLenOther, dm.FirstWord, dm.LastWord};
}

QStringList SplitMessage(const QString &text, int limit, bool ems, const QString &firstWord,
                         const QString &lastWord)
{
    QStringList parts;
    if (limit < 2 || text.isEmpty())
        return parts;
    if (text.size() + firstWord.size() + lastWord.size() <= limit) {
        parts << firstWord + text + lastWord;
        return parts;
    }
    qsizetype pos = 0;
    int k = 0;
    while (pos < text.size()) {
        ++k;
        const QString label = ems ? QString() : QString::number(k) + QLatin1Char('>');
        const qsizetype room = limit - firstWord.size() - label.size();
        // Without room the cutting would never advance.
        if (room <= 0)
            throw VelaroError(QStringLiteral("开头附加文字太长(%1个字)，每条短信最多%2个字，放不下短信内容，"
                                             "无法分条发送。请在设置中缩短开头附加文字。")
                                  .arg(firstWord.size())
                                  .arg(limit));
        parts << firstWord + label + text.mid(pos, room);
        pos += room;
    }
    if (!lastWord.isEmpty()) {
        if (parts.last().size() + lastWord.size() <= limit) {
            parts.last() += lastWord;
        } else {
            const QString extra =
                ems ? firstWord + lastWord : firstWord + QString::number(k + 1) + QLatin1Char('>') + lastWord;
            // A part over the limit would not go out as written.
            if (extra.size() > limit)
                throw VelaroError(
                    QStringLiteral("结尾附加文字太长(%1个字)，连同开头附加文字和编号超过每条短信"
                                   "最多%2个字，无法分条发送。请在设置中缩短附加文字。")
                        .arg(lastWord.size())
                        .arg(limit));
            parts << extra;
        }
    }
    return parts;
}

QStringList SplitMessage(const TDataM &dm, const QString &text, int limit, bool ems)
{
    return SplitMessage(text, limit, ems, dm.FirstWord, dm.LastWord);
}

QStringList InsertFieldEntries(const QString &customColumnList)
{
    QStringList entries{QStringLiteral("手机"),     QStringLiteral("姓名"), QStringLiteral("备注"),
                        QStringLiteral("加入时间"), QStringLiteral("生日"), QStringLiteral("类别"),
                        QStringLiteral("到期时间"), QStringLiteral("编号")};
    for (const QString &c : customColumnList.split(QLatin1Char(','))) {
        const QString e = c.trimmed();
        if (!e.isEmpty())
            entries << e;
    }
    return entries;
}

QStringList InsertFieldEntries(TDataM &dm)
{
    QString custom;
    try {
        custom = dm.schema().GetCustomColumnList();
    } catch (const VelaroError &) {
        // No database yet: the fixed fields only.
    }
    return InsertFieldEntries(custom);
}

bool IsPersonalised(const QString &text, const QStringList &entries)
{
    for (const QString &e : entries)
        if (text.contains(QLatin1Char('[') + e + QLatin1Char(']'), Qt::CaseSensitive))
            return true;
    return false;
}

bool IsPersonalised(TDataM &dm, const QString &text)
{
    return IsPersonalised(text, InsertFieldEntries(dm));
}

std::optional<QSqlRecord> FindContactFields(TDataM &dm, const QString &number)
{
    QSqlQuery q = dm.db().newQuery();
    dm.db().ExecSqlOn(q,
                      QStringLiteral("select * from v_user where 手机=") + SqlDialect::quote(number) +
                          QStringLiteral(" limit 1"),
                      true);
    if (!q.next())
        return std::nullopt;
    return q.record();
}

QString ExpandPlaceholders(const QString &text, const QStringList &entries,
                           const std::optional<QSqlRecord> &contact)
{
    QString s = text;
    for (const QString &e : entries) {
        const QString value = contact ? contact->value(e).toString().trimmed() : QString();
        s.replace(QLatin1Char('[') + e + QLatin1Char(']'), value, Qt::CaseInsensitive);
    }
    return s;
}

QString ExpandPlaceholders(TDataM &dm, const QString &text, const QString &number)
{
    return ExpandPlaceholders(text, InsertFieldEntries(dm), FindContactFields(dm, number));
}

WordCheckForms MakeWordCheckForms(const QString &text)
{
    WordCheckForms f;
    f.asTyped = text;
    f.halfWidth = text;
    for (QChar &c : f.halfWidth) {
        const qsizetype i = FullWidthSigns.indexOf(c);
        if (i >= 0)
            c = HalfWidthSigns.at(i);
    }
    for (QChar c : f.halfWidth) {
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            c = QChar(c.unicode() + 32);
        if (c.unicode() >= 0x80)
            f.wide += c;
        else if (SqueezedKeeps.contains(c))
            f.squeezed += c;
    }
    return f;
}

QString CheckIllegalWords(TDataM &dm, const QString &text)
{
    try {
        const WordCheckForms f = MakeWordCheckForms(text);
        const SqlDialect &d = dm.db().dialect();
        // The comparison ignores letter case, as the word list's users expect.
        auto in = [&](const QString &form) {
            return d.containedIn(QStringLiteral("lower(") + SqlDialect::quote(form.trimmed()) +
                                     QLatin1Char(')'),
                                 QStringLiteral("lower(内容)"));
        };
        // An empty word would be found in every text.
        const QString sql = QStringLiteral("select 内容 as ts from 过滤表  where 内容<>'' and (") +
                            in(f.asTyped) + QStringLiteral(" or ") + in(f.halfWidth) +
                            QStringLiteral(" or ") + in(f.squeezed) + QStringLiteral(" or ") + in(f.wide) +
                            QStringLiteral(")");
        QSqlQuery q = dm.db().newQuery();
        dm.db().ExecSqlOn(q, sql, true);
        QString words;
        while (q.next())
            words += QStringLiteral("\r\n") + q.value(0).toString().trimmed();
        return words;
    } catch (const VelaroError &) {
        return QString();
    }
}

QStringList UnsendableCharacters(const QString &text)
{
    QStringList out;
    if (Gbk::encode(text))
        return out;
    QSet<char32_t> seen;
    for (uint cp32 : text.toUcs4()) {
        const char32_t cp = cp32;
        if (cp < 0x80 || seen.contains(cp))
            continue;
        seen.insert(cp);
        const QString one = QString::fromUcs4(&cp, 1);
        if (!Gbk::encode(one))
            out << one;
    }
    return out;
}

QString MessageType::text() const
{
    QString t = handsFree && flash ? QStringLiteral("免提+闪烁")
                : handsFree        ? QStringLiteral("免提")
                : flash            ? QStringLiteral("闪烁")
                                   : QStringLiteral("普通");
    if (ems)
        t += QStringLiteral("(EMS)");
    return t;
}

QString SpecialTariffNotice()
{
    return QStringLiteral("请注意特殊短信资费标准:\r\n\r\n免提: 双倍资费;\r\n闪烁: 双倍资费;\r\n免提+闪烁: "
                          "三倍资费。\r\n\r\n请留意您的账户。");
}

QString EmsTariffNotice()
{
    return QStringLiteral(
        "请注意增强型短信资费标准为每次每号码发送资费为普通短信条数资费加一.\r\n\r\n如: 分 3 "
        "条发出，则资费为 4 (3+1).\r\n\r\n另外：因资费及通道支持不同，请注意接收号码应全部为移动手机号码!");
}

QString ComposeGroupTitle()
{
    return QStringLiteral("发送内容主体: ");
}

std::optional<QString> CounterCaption(const QString &filteredText, const QStringList &entries,
                                      const SplitSettings &settings, bool ems)
{
    if (IsPersonalised(filteredText, entries))
        return QStringLiteral("发送内容主体: (你目前发送是个性化短信，将逐号码进行分条解析)");
    if (filteredText.isEmpty())
        return ComposeGroupTitle();
    try {
        const auto m =
            SplitMessage(filteredText, settings.mobileLimit(ems), ems, settings.FirstWord, settings.LastWord)
                .size();
        const auto o =
            SplitMessage(filteredText, settings.SegLenOther, false, settings.FirstWord, settings.LastWord)
                .size();
        return QStringLiteral(" 发送内容主体: ") + QString::number(filteredText.size()) +
               QStringLiteral("个字，") + QString::number(Gbk::byteCount(filteredText)) +
               QStringLiteral("个字节数(移动联通:") + QString::number(m) + QStringLiteral("条  ") +
               QStringLiteral("小灵通:") + QString::number(o) + QStringLiteral("条)");
    } catch (const VelaroError &) {
        return std::nullopt;
    }
}

QString SendTotals::wordsText() const
{
    return QStringLiteral("%1个字符,%2个字节 (移动联通 %3 条; 小灵通 %4 条)")
        .arg(characters)
        .arg(bytes)
        .arg(mobileParts)
        .arg(otherParts);
}
QString SendTotals::mobileNumbersText() const
{
    return QString::number(mobileNumbers) + QStringLiteral(" 个");
}
QString SendTotals::otherNumbersText() const
{
    return QString::number(otherNumbers) + QStringLiteral(" 个");
}
QString SendTotals::messagesText() const
{
    return QString::number(messages) + QStringLiteral(" 条");
}
QString SendTotals::balanceText() const
{
    return QString::number(balance) + QStringLiteral(" 条");
}
QString SendTotals::chargeText() const
{
    return QString::number(charge) + QStringLiteral(" 条");
}

SendTotals ComputeSendTotals(const QString &filteredText, const SplitSettings &settings,
                             const MessageType &type, qint64 mobileNumbers, qint64 otherNumbers,
                             qint64 balance)
{
    SendTotals t;
    t.characters = int(filteredText.size());
    t.bytes = Gbk::byteCount(filteredText);
    t.mobileParts = SplitMessage(filteredText, settings.mobileLimit(type.ems), type.ems, settings.FirstWord,
                                 settings.LastWord)
                        .size();
    t.otherParts =
        SplitMessage(filteredText, settings.SegLenOther, false, settings.FirstWord, settings.LastWord).size();
    t.mobileNumbers = mobileNumbers;
    t.otherNumbers = otherNumbers;
    t.messages = mobileNumbers * t.mobileParts + otherNumbers * t.otherParts;
    t.balance = balance;
    if (type.handsFree && type.flash)
        t.charge = 3 * t.messages;
    else if (type.handsFree || type.flash)
        t.charge = 2 * t.messages;
    else if (type.ems)
        t.charge = mobileNumbers * (t.mobileParts + 1) + otherNumbers * t.otherParts;
    else
        t.charge = t.messages;
    return t;
}

bool CheckContent(TDataM &dm, const QString &memoText, bool ems)
{
    bool clean = true;
    const QString words = CheckIllegalWords(dm, memoText);
    if (!words.isEmpty()) {
        dm.prompter().information(QStringLiteral("要发送的内容存在以下非法字符,请检查更改后再发送。\r\n") +
                                  words);
        clean = false;
    }
    const QStringList bad = UnsendableCharacters(dm.FirstWord + memoText + dm.LastWord);
    if (!bad.isEmpty()) {
        QString list;
        for (const QString &c : bad)
            list += QStringLiteral("\r\n") + unsendableName(c);
        dm.prompter().information(
            QStringLiteral("要发送的内容存在以下短信无法发送的字符(如表情符号),请删除或更换后再发送。\r\n") +
            list);
        clean = false;
    }
    try {
        const QString t = FilterLineBreaks(dm, memoText);
        SplitMessage(dm, t, SplitSettings::of(dm).mobileLimit(ems), ems);
        SplitMessage(dm, t, dm.SegLenOther, false);
    } catch (const VelaroError &e) {
        dm.prompter().information(e.text());
        clean = false;
    }
    return clean;
}

QString SendContentRefusal(TDataM &dm, const QString &filteredText, bool ems, bool hasMobile, bool hasOther)
{
    const QString words = CheckIllegalWords(dm, filteredText);
    if (!words.isEmpty())
        return QStringLiteral("有非法字符(") + words + QStringLiteral(")!，请检查");
    const QStringList bad = UnsendableCharacters(dm.FirstWord + filteredText + dm.LastWord);
    if (!bad.isEmpty()) {
        QStringList names;
        for (const QString &c : bad)
            names << unsendableName(c);
        return QStringLiteral("有短信无法发送的字符(") + names.join(QStringLiteral("、")) +
               QStringLiteral(")!，请删除或更换后再发送");
    }
    try {
        if (hasMobile)
            SplitMessage(dm, filteredText, SplitSettings::of(dm).mobileLimit(ems), ems);
        if (hasOther)
            SplitMessage(dm, filteredText, dm.SegLenOther, false);
    } catch (const VelaroError &e) {
        return e.text();
    }
    return QString();
}

QStringList ParseFilterWordList(const QString &list)
{
    // Runs of characters up to the blank separate items; a NUL ends the list.
    QStringList items;
    const qsizetype n = list.indexOf(QChar(0)) >= 0 ? list.indexOf(QChar(0)) : list.size();
    auto isSpace = [](QChar c) { return c.unicode() <= ' '; };
    qsizetype p = 0;
    while (p < n && isSpace(list.at(p)))
        ++p;
    while (p < n) {
        QString item;
        if (list.at(p) == QLatin1Char('"')) {
            ++p;
            while (p < n) {
                if (list.at(p) == QLatin1Char('"')) {
                    if (p + 1 < n && list.at(p + 1) == QLatin1Char('"')) {
                        item += QLatin1Char('"');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += list.at(p++);
            }
        } else {
            const qsizetype start = p;
            while (p < n && !isSpace(list.at(p)))
                ++p;
            item = list.mid(start, p - start);
        }
        items << item;
        while (p < n && isSpace(list.at(p)))
            ++p;
    }
    return items;
}

namespace {

// Replaces the word list in one transaction; skips words that are empty after trimming,
// as an empty word would be found in every text.
void replaceFilterWords(TDataM &dm, const QStringList &words, bool ignoreFailedInsert)
{
    AccountDatabase &db = dm.db();
    db.inTransaction([&] {
        db.ExecSql(QStringLiteral("delete from 过滤表"));
        QSqlQuery q = db.newQuery();
        const QString insert = QStringLiteral("Insert Into 过滤表(内容) values (?) ");
        if (!q.prepare(insert))
            throw VelaroError(insert + QStringLiteral(" >> ") + q.lastError().text());
        for (const QString &w : words) {
            if (w.trimmed().isEmpty())
                continue;
            q.bindValue(0, w);
            if (!q.exec() && !ignoreFailedInsert)
                throw VelaroError(insert + QStringLiteral(" >> ") + q.lastError().text());
        }
    });
}

} // namespace

void LoadFilterWordsFromGateway(TDataM &dm, const QByteArray &filterString)
{
    replaceFilterWords(dm, ParseFilterWordList(Gbk::decode(filterString)), true);
}

QStringList FilterWordLines(const QByteArray &body)
{
    QString text = Gbk::decode(body);
    text.remove(QStringLiteral("<meta http-equiv=\"Content-Type\"  content=\"text/html;charset=gb2312\">"),
                Qt::CaseInsensitive);
    text.replace(QLatin1Char('\t'), QStringLiteral("\r\n"));
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList words;
    for (const QString &line : text.split(lineBreak))
        if (!line.trimmed().isEmpty())
            words << line;
    return words;
}

FilterWordsDownload FetchFilterWords(const QString &url, const HttpProxy &proxy, int timeoutMs)
{
    HttpOptions o;
    o.timeoutMs = timeoutMs;
    o.proxy = proxy;
    const HttpResponse r = HttpClient::get(url, o);
    FilterWordsDownload d;
    if (!r.completed())
        d.error = r.errorText;
    else if (r.status != 200)
        d.error = QStringLiteral("HTTP %1").arg(r.status);
    else
        d.words = FilterWordLines(r.body);
    return d;
}

QString FilterDownloadFailedText()
{
    return QStringLiteral(
        "未能成功读取最新的非法字符表，建议重新登录尝试，如果此提示重复出现，请联系我们的客服人员解决，"
        "感谢您的合作. 错误信息:");
}

bool StoreFilterWords(TDataM &dm, const FilterWordsDownload &download)
{
    QString error = download.error;
    if (download.ok()) {
        try {
            replaceFilterWords(dm, download.words, false);
            return true;
        } catch (const VelaroError &e) {
            error = e.text();
        }
    }
    dm.prompter().information(FilterDownloadFailedText() + error);
    return false;
}

bool DownloadFilterWords(TDataM &dm, const QString &url, int timeoutMs)
{
    return StoreFilterWords(dm, FetchFilterWords(url, dm.webProxy, timeoutMs));
}
