#include "sending/ContentRules.h"
#include "../app/LocalHttpServer.h"
#include "../store/StoreFixture.h"
#include "common/GbkCodec.h"
#include "common/VelaroError.h"
#include <QSqlField>
#include <gtest/gtest.h>

namespace {

QString chars(int n, QChar c = QLatin1Char('x'))
{
    return QString(n, c);
}
// n characters that are all different, so a misplaced cut shows.
QString seq(int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s += QChar(0x4E00 + i);
    return s;
}

// A data module with an open customer database.
struct ContentFixture : StoreFixture {
    ContentFixture()
    {
        EXPECT_TRUE(db().OpenAccountDatabase(QStringLiteral("10086")));
        dm->SegLenMobile = 70;
        dm->SegLenOther = 60;
    }
    void words(const QStringList &list)
    {
        db().ExecSql(QStringLiteral("delete from 过滤表"));
        for (const QString &w : list)
            db().ExecSql(QStringLiteral("insert into 过滤表(内容) values (") + SqlDialect::quote(w) + ")");
    }
    QStringList table()
    {
        QStringList out;
        QSqlQuery q = db().newQuery();
        q.exec(QStringLiteral("select 内容 from 过滤表 order by rowid"));
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
};

} // namespace

TEST(ContentRules, FilterLineBreaksRemovesCrLfPairsAndBlanksOnly)
{
    struct Case {
        QString in;
        bool filtrate;
        QString out;
    } cases[] = {
        {"a b\r\nc", true, "abc"},    {"a\rb\nc", true, "a\rb\nc"}, // lone CR and LF stay
        {"a\r \nb", true, "a\r\nb"},                                // pairs first, then blanks
        {"a\tb　c", true, "a\tb　c"}, // tab and the full-width blank are not blanks
        {" \r\n \r\n ", true, ""},    {"a b\r\nc", false, "a b\r\nc"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in.toStdString());
        EXPECT_EQ(FilterLineBreaks(c.in, c.filtrate), c.out);
    }

    ContentFixture f;
    EXPECT_EQ(FilterLineBreaks(*f.dm, "a b"), "ab"); // default "1"
    f.dm->WriteSetting("FiltrateCRLF", "0");
    EXPECT_EQ(FilterLineBreaks(*f.dm, "a b"), "a b");
}

TEST(ContentRules, SplitMessageCases)
{
    const QString w7 = QStringLiteral("(可直接回复)");
    const QString f4 = QStringLiteral("【公司】");
    ASSERT_EQ(w7.size(), 7);
    ASSERT_EQ(f4.size(), 4);
    const QString t71 = seq(71), t65 = seq(65), t200 = seq(200), t140 = seq(140);
    struct Case {
        const char *name;
        QString text;
        int limit;
        bool ems;
        QString first, last;
        QStringList parts;
    } cases[] = {
        {"empty text", "", 70, false, f4, w7, {}},
        {"limit below 2 (before login)", "abc", 1, false, "", "", {}},
        {"limit 0", "abc", 0, false, "", "", {}},
        {"70 characters fit one part", chars(70), 70, false, "", "", {chars(70)}},
        {"71 characters: 68 + 3 with labels",
         t71,
         70,
         false,
         "",
         "",
         {"1>" + t71.left(68), "2>" + t71.mid(68)}},
        {"last word fits: one part", seq(60), 70, false, "", w7, {seq(60) + w7}},
        {"last word in a part of its own", t65, 70, false, "", w7, {"1>" + t65, "2>" + w7}},
        {"first word in every part",
         t200,
         70,
         false,
         f4,
         "",
         {f4 + "1>" + t200.mid(0, 64), f4 + "2>" + t200.mid(64, 64), f4 + "3>" + t200.mid(128, 64),
          f4 + "4>" + t200.mid(192)}},
        {"ems: no labels", t140, 67, true, "", "", {t140.left(67), t140.mid(67, 67), t140.mid(134)}},
        {"ems: last word appended",
         t140,
         67,
         true,
         "",
         "ab",
         {t140.left(67), t140.mid(67, 67), t140.mid(134) + "ab"}},
        {"ems: extra part is first + last",
         chars(67) + "y",
         67,
         true,
         "F",
         chars(66, 'w'),
         {"F" + chars(66), "Fxy", "F" + chars(66, 'w')}},
        {"single part keeps the attached texts, no label", "abc", 10, false, "F", "W", {"FabcW"}},
        {"labels grow to two digits",
         chars(22),
         4,
         false,
         "",
         "",
         {"1>xx", "2>xx", "3>xx", "4>xx", "5>xx", "6>xx", "7>xx", "8>xx", "9>xx", "10>x", "11>x", "12>x",
          "13>x"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList parts = SplitMessage(c.text, c.limit, c.ems, c.first, c.last);
        EXPECT_EQ(parts, c.parts);
        for (const QString &p : parts)
            EXPECT_LE(p.size(), c.limit);
    }
}

TEST(ContentRules, SplitMessageRefusesWhenAttachedTextsLeaveNoRoom)
{
    struct Case {
        const char *name;
        QString text, first, last;
        int limit;
        bool ems;
        const char *says;
    } cases[] = {
        {"first word fills the part", chars(80), chars(68), "", 70, false, "开头附加文字太长(68个字)"},
        {"first word fills an ems part", chars(80), chars(67), "", 67, true, "开头附加文字太长(67个字)"},
        // One character of room for labels 1> .. 9>, none for 10>.
        {"room ends with two-digit labels", chars(10), chars(67), "", 70, false, "每条短信最多70个字"},
        {"last word's own part over the limit", chars(68), "", chars(69), 70, false,
         "结尾附加文字太长(69个字)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            SplitMessage(c.text, c.limit, c.ems, c.first, c.last);
            ADD_FAILURE() << "no refusal";
        } catch (const VelaroError &e) {
            EXPECT_TRUE(e.text().contains(QString::fromUtf8(c.says))) << e.text().toStdString();
        }
    }
    // The same attached texts are fine while the message fits one part.
    EXPECT_EQ(SplitMessage("ab", 70, false, chars(68), "").size(), 1);
}

TEST(ContentRules, CounterCaptionCases)
{
    const QStringList entries = InsertFieldEntries(QStringLiteral(",部门"));
    const SplitSettings plain{70, 60, "", ""};
    const QString t100 = seq(50) + chars(50);
    struct Case {
        const char *name;
        QString text;
        SplitSettings settings;
        bool ems;
        std::optional<QString> caption;
    } cases[] = {
        {"empty", "", plain, false, QStringLiteral("发送内容主体: ")},
        {"personalised by a fixed field", "[姓名]您好", plain, false,
         QStringLiteral("发送内容主体: (你目前发送是个性化短信，将逐号码进行分条解析)")},
        {"personalised by a custom column", "[部门]", plain, false,
         QStringLiteral("发送内容主体: (你目前发送是个性化短信，将逐号码进行分条解析)")},
        {"counts in characters and GBK bytes", t100, plain, false,
         QStringLiteral(" 发送内容主体: 100个字，150个字节数(移动联通:2条  小灵通:2条)")},
        {"classes split by their own limits", chars(65), plain, false,
         QStringLiteral(" 发送内容主体: 65个字，65个字节数(移动联通:1条  小灵通:2条)")},
        {"ems for the mobile class only", chars(140), plain, true,
         QStringLiteral(" 发送内容主体: 140个字，140个字节数(移动联通:3条  小灵通:3条)")},
        {"before login every count is 0", "abc", SplitSettings{}, false,
         QStringLiteral(" 发送内容主体: 3个字，3个字节数(移动联通:0条  小灵通:0条)")},
        {"no room: caption unchanged", chars(80), SplitSettings{70, 60, chars(68), ""}, false, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CounterCaption(c.text, entries, c.settings, c.ems), c.caption);
    }
}

TEST(ContentRules, MessageTypeTexts)
{
    struct Case {
        bool handsFree, flash, ems;
        const char *text;
    } cases[] = {
        {false, false, false, "普通"},     {true, false, false, "免提"},
        {false, true, false, "闪烁"},      {true, true, false, "免提+闪烁"},
        {false, false, true, "普通(EMS)"}, {true, true, true, "免提+闪烁(EMS)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(MessageType({c.handsFree, c.flash, c.ems}).text(), QString::fromUtf8(c.text));
}

TEST(ContentRules, SendTotalsAndCharges)
{
    const SplitSettings s{70, 60, "", ""};
    const QString t = chars(100); // 2 parts for either class, ems or not
    struct Case {
        const char *name;
        MessageType type;
        qint64 messages, charge;
    } cases[] = {
        {"plain", {}, 1000 * 2 + 200 * 2, 2400},
        {"hands-free doubles", {true, false, false}, 2400, 4800},
        {"flash doubles", {false, true, false}, 2400, 4800},
        {"both triple", {true, true, false}, 2400, 7200},
        {"ems adds one per mobile number", {false, false, true}, 1000 * 2 + 200 * 2, 1000 * 3 + 200 * 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const SendTotals r = ComputeSendTotals(t, s, c.type, 1000, 200, 5000);
        EXPECT_EQ(r.messages, c.messages);
        EXPECT_EQ(r.charge, c.charge);
    }
    const SendTotals r = ComputeSendTotals(seq(10) + "ab", s, {}, 3, 4, 99);
    EXPECT_EQ(r.wordsText(), QStringLiteral("12个字符,22个字节 (移动联通 1 条; 小灵通 1 条)"));
    EXPECT_EQ(r.mobileNumbersText(), QStringLiteral("3 个"));
    EXPECT_EQ(r.otherNumbersText(), QStringLiteral("4 个"));
    EXPECT_EQ(r.messagesText(), QStringLiteral("7 条"));
    EXPECT_EQ(r.balanceText(), QStringLiteral("99 条"));
    EXPECT_EQ(r.chargeText(), QStringLiteral("7 条"));
    EXPECT_THROW(ComputeSendTotals(chars(80), SplitSettings{70, 60, chars(68), ""}, {}, 1, 1, 0),
                 VelaroError);
}

TEST(ContentRules, WordCheckForms)
{
    const WordCheckForms f = MakeWordCheckForms(QStringLiteral("ＡＢＣ，中a-B.c 文！９"));
    EXPECT_EQ(f.asTyped, QStringLiteral("ＡＢＣ，中a-B.c 文！９"));
    EXPECT_EQ(f.halfWidth, QStringLiteral("ABC,中a-B.c 文!9"));
    EXPECT_EQ(f.squeezed, QStringLiteral("abca-b.c9"));
    EXPECT_EQ(f.wide, QStringLiteral("中文"));
    EXPECT_EQ(MakeWordCheckForms(QStringLiteral("。＂＇＼")).halfWidth, QStringLiteral(".\"'\\"));
}

TEST(ContentRules, CheckIllegalWordsFindsWordsInAnyOfTheFourForms)
{
    ContentFixture f;
    f.words({"abc", "法轮", "FREE", "o'k", "x.y"});
    struct Case {
        const char *name;
        QString text;
        QString found;
    } cases[] = {
        {"as typed", "看abc看", "\r\nabc"},
        {"full width found through the half-width form", "ＡＢＣ", "\r\nabc"},
        {"letters squeezed together", "a*b c", "\r\nabc"},
        {"the hyphen is kept, so a-b-c is not abc", "a-b-c", ""},
        {"Chinese squeezed together", "法1轮", "\r\n法轮"},
        {"letter case ignored", "free gift", "\r\nFREE"},
        {"a quote in a word", "o'k", "\r\no'k"},
        {"the full stop is kept by the squeezed form", "x。y", "\r\nx.y"},
        {"several words", "abc法轮", "\r\nabc\r\n法轮"},
        {"nothing", "你好", ""},
        {"text with quotes is no SQL", "'); delete from 过滤表; --", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckIllegalWords(*f.dm, c.text), c.found);
    }
    EXPECT_EQ(f.count("过滤表"), 5);
    // An empty word (left by hand) is not found in every text.
    f.words({""});
    EXPECT_EQ(CheckIllegalWords(*f.dm, "abc"), "");
    // A database error counts as nothing found.
    f.db().ExecSql("drop table 过滤表");
    EXPECT_EQ(CheckIllegalWords(*f.dm, "abc"), "");
}

TEST(ContentRules, PlaceholdersFollowTheMenuAndTheContact)
{
    ContentFixture f;
    f.dm->schema().AddCustomColumn("部门", 0);
    f.db().ExecSql("insert into 自定义名片列(名称,类型) values ('部门',0)");
    f.dm->schema().RebuildUserView();
    f.db().ExecSql("insert into 用户表(类别,手机,姓名,备注,部门) values ('03','13900000001',' 张三 "
                   "','老客户','销售部')");

    const QStringList entries = InsertFieldEntries(*f.dm);
    EXPECT_EQ(entries,
              (QStringList{"手机", "姓名", "备注", "加入时间", "生日", "类别", "到期时间", "编号", "部门"}));
    EXPECT_EQ(InsertFieldEntries(" , 甲 ,,乙"), (QStringList{"手机", "姓名", "备注", "加入时间", "生日",
                                                             "类别", "到期时间", "编号", "甲", "乙"}));

    struct Case {
        QString text;
        bool personalised;
    } personal[] = {
        {"[姓名]您好", true}, {"[部门]", true}, {"[ 姓名]您好", false},
        {"[姓 名]", false},   {"[X]", false},   {"姓名", false},
    };
    for (const auto &c : personal)
        EXPECT_EQ(IsPersonalised(*f.dm, c.text), c.personalised) << c.text.toStdString();

    struct Expand {
        const char *number;
        QString text, out;
    } expand[] = {
        {"13900000001", "[姓名]您好，[部门][类别]", "张三您好，销售部新联系人"},
        {"13900000001", "[手机]/[备注]/[未知]/[姓 名]", "13900000001/老客户/[未知]/[姓 名]"},
        {"13900000001", "[部门][部门]", "销售部销售部"},
        {"13900000002", "[姓名]您好[部门]", "您好"},
    };
    for (const auto &c : expand) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(ExpandPlaceholders(*f.dm, c.text, c.number), c.out);
    }
    // Expansion ignores letter case, detection does not.
    const QStringList latin = InsertFieldEntries(",Dept");
    QSqlRecord contact;
    contact.append(QSqlField("Dept", QMetaType(QMetaType::QString)));
    contact.setValue("Dept", "IT");
    EXPECT_FALSE(IsPersonalised("[dept]", latin));
    EXPECT_EQ(ExpandPlaceholders("[dept]/[DEPT]", latin, contact), "IT/IT");
}

TEST(ContentRules, UnsendableCharactersAreNamed)
{
    EXPECT_TRUE(UnsendableCharacters(QStringLiteral("中文 abcü，。€")).isEmpty());
    EXPECT_EQ(UnsendableCharacters(QStringLiteral("好😀a😀한")), (QStringList{"😀", "한"}));

    ContentFixture f;
    f.words({"abc"});
    // "内容检查": the text as typed, every problem named in its own box.
    EXPECT_TRUE(CheckContent(*f.dm, "你好 世界", false));
    EXPECT_TRUE(f.prompter.texts().isEmpty());
    EXPECT_FALSE(CheckContent(*f.dm, QStringLiteral("abc 😀"), false));
    EXPECT_EQ(
        f.prompter.texts(),
        (QStringList{
            "要发送的内容存在以下非法字符,请检查更改后再发送。\r\n\r\nabc",
            "要发送的内容存在以下短信无法发送的字符(如表情符号),请删除或更换后再发送。\r\n\r\n😀 (U+1F600)"}));
    f.prompter.clear();
    f.dm->FirstWord = chars(68);
    EXPECT_FALSE(CheckContent(*f.dm, chars(10), false));
    ASSERT_EQ(f.prompter.texts().size(), 1);
    EXPECT_TRUE(f.prompter.texts()[0].startsWith("开头附加文字太长(68个字)"));

    // The send checks: refusal texts, only for the classes that have recipients.
    f.dm->FirstWord = "";
    EXPECT_EQ(SendContentRefusal(*f.dm, "abc", false, true, true), "有非法字符(\r\nabc)!，请检查");
    EXPECT_EQ(SendContentRefusal(*f.dm, QStringLiteral("好😀"), false, true, true),
              QStringLiteral("有短信无法发送的字符(😀 (U+1F600))!，请删除或更换后再发送"));
    f.dm->LastWord = QStringLiteral("한");
    EXPECT_EQ(SendContentRefusal(*f.dm, QStringLiteral("好"), false, true, true),
              QStringLiteral("有短信无法发送的字符(한 (U+D55C))!，请删除或更换后再发送"));
    f.dm->LastWord = "";
    f.dm->SegLenOther = 45;
    f.dm->FirstWord = chars(44);
    EXPECT_EQ(SendContentRefusal(*f.dm, chars(30), false, true, false), "");
    EXPECT_TRUE(
        SendContentRefusal(*f.dm, chars(30), false, true, true).startsWith("开头附加文字太长(44个字)"));
}

TEST(ContentRules, GatewayWordListIsParsedLikeADelimitedList)
{
    struct Case {
        QString list;
        QStringList items;
    } cases[] = {
        {"a\tb\tc", {"a", "b", "c"}},
        {"  a \t\t b\r\nc  ", {"a", "b", "c"}},
        {"\"x y\"\tz", {"x y", "z"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"\"open", {"open"}},
        {"ab\"c d", {"ab\"c", "d"}},
        {"\"a\"b", {"a", "b"}},
        {"", {}},
        {QStringLiteral("法轮\t台独"), {"法轮", "台独"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseFilterWordList(c.list), c.items) << c.list.toStdString();
    EXPECT_EQ(ParseFilterWordList(QString("a\tb") + QChar(0) + "c"), (QStringList{"a", "b"}));

    ContentFixture f;
    f.words({"old"});
    LoadFilterWordsFromGateway(*f.dm, *Gbk::encode(QStringLiteral("法轮\t\"x y\"\t\"\"\t\" \"\tO'K")));
    EXPECT_EQ(f.table(), (QStringList{"法轮", "x y", "O'K"}));
}

TEST(ContentRules, DownloadFilterWordsReplacesTheListInOneGo)
{
    ContentFixture f;
    LocalHttpServer server;
    const QString url = server.base() + "/sdk_asp/Filter.asp";
    const QByteArray page = *Gbk::encode(
        QStringLiteral("<META http-equiv=\"Content-Type\"  content=\"text/html;charset=GB2312\">\r\n法轮\t台 "
                       "独 \t\tabc\r\n  \r\nd'e"));
    server.route("/sdk_asp/Filter.asp", {200, page, false});

    f.words({"old"});
    EXPECT_TRUE(DownloadFilterWords(*f.dm, url));
    EXPECT_EQ(f.table(), (QStringList{"法轮", "台 独 ", "abc", "d'e"}));
    EXPECT_TRUE(f.prompter.texts().isEmpty());
    EXPECT_EQ(CheckIllegalWords(*f.dm, "ABC"), "\r\nabc");

    // A failed download keeps the list in force and says why.
    server.route("/sdk_asp/Filter.asp", {404, "gone", false});
    EXPECT_FALSE(DownloadFilterWords(*f.dm, url));
    EXPECT_EQ(f.prompter.texts(), QStringList{FilterDownloadFailedText() + "HTTP 404"});
    EXPECT_EQ(f.count("过滤表"), 4);

    f.prompter.clear();
    EXPECT_FALSE(DownloadFilterWords(*f.dm, "http://127.0.0.1:1/sdk_asp/Filter.asp", 2000));
    ASSERT_EQ(f.prompter.texts().size(), 1);
    EXPECT_TRUE(f.prompter.texts()[0].startsWith(FilterDownloadFailedText()));
    EXPECT_GT(f.prompter.texts()[0].size(), FilterDownloadFailedText().size());
    EXPECT_EQ(f.count("过滤表"), 4);

    // A database that cannot take the list leaves the old one as well.
    f.prompter.clear();
    server.route("/sdk_asp/Filter.asp", {200, page, false});
    f.db().ExecSql("create trigger no_words before insert on 过滤表 when new.内容='abc' begin select "
                   "raise(abort,'refused'); end");
    EXPECT_FALSE(DownloadFilterWords(*f.dm, url));
    EXPECT_EQ(f.count("过滤表"), 4);
    ASSERT_EQ(f.prompter.texts().size(), 1);
    EXPECT_TRUE(f.prompter.texts()[0].contains("refused"));
}

TEST(ContentRules, DownloadGoesThroughTheLoginsProxy)
{
    ContentFixture f;
    LocalHttpServer proxy; // answers a proxy request by its path
    proxy.route("/sdk_asp/Filter.asp", {200, "viaproxy", false});
    f.dm->webProxy = HttpProxy{HttpProxyKind::Http, "127.0.0.1", proxy.port(), {}, {}};
    EXPECT_TRUE(DownloadFilterWords(*f.dm, "http://provider.invalid/sdk_asp/Filter.asp"));
    EXPECT_EQ(f.table(), QStringList{"viaproxy"});
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].target, "http://provider.invalid/sdk_asp/Filter.asp");
}
