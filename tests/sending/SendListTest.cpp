#include "SendingFixture.h"
#include "common/VelaroError.h"
#include "sending/NumberEntry.h"
#include "sending/SendListModel.h"

namespace {

// Types text into a simulated entry field the way the widget does; returns the field's text.
QString typeInto(SendList &list, QString field, const QString &keys)
{
    for (QChar k : keys) {
        const char16_t key = k == u'\n' ? NumberEntry::Enter : k.unicode();
        switch (NumberEntry::ReceiversKeyPress(field, key)) {
        case NumberEntry::KeyAction::Swallow:
            break;
        case NumberEntry::KeyAction::Pass:
            if (key == NumberEntry::Backspace)
                field.chop(1);
            else if (key != NumberEntry::Enter)
                field += k;
            break;
        case NumberEntry::KeyAction::Submit:
            if (key != NumberEntry::Enter && key != NumberEntry::Paste)
                field += k;
            if (list.SubmitTyped(NumberEntry::Candidate(field)))
                field.clear();
            break;
        }
    }
    return field;
}

} // namespace

TEST(SendList, TypedEntryAddsCompleteNumbersOnce)
{
    SendingFixture f;
    struct Case {
        const char *keys;
        const char *fieldAfter;
    };
    const Case cases[] = {
        {"13812345678", ""},
        {"12345678901", "12345678901"},     // no mobile prefix, no leading 0: stays
        {"013812345678\n", "013812345678"}, // normalised, it is the number already in the list
        {"02012345678\n", ""},
        {"020123456\n", "020123456"},
        {"13812345678", "13812345678"}, // a duplicate stays in the field
        {"15412345678", "15412345678"},
        {"18112345678", "18112345678"},
        {"0201234567890\n", ""},
        {"0201234567890"
         "1\n",
         "02012345678901"},
        {"013912345678\n", ""},
        {"1x3-9 1", "1391"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(typeInto(*f.list, QString(), QString::fromUtf8(c.keys)), QString::fromUtf8(c.fieldAfter))
            << c.keys;
    EXPECT_EQ(f.list->numbers().toStringList(),
              (QStringList{"02012345678", "0201234567890", "13812345678", "13912345678"}));
    EXPECT_EQ(f.tableNumbers(), f.list->numbers().toStringList());
    EXPECT_EQ(f.list->classCounts(), (std::array<int, 4>{0, 2, 0, 2}));
}

TEST(SendList, AddToSendListTakesFolderNameContactNameAndComposition)
{
    SendingFixture f;
    f.addContact("02", "13812345678", "张三");
    f.addContact("0301", "13912345678", "O'Brien");
    f.db().ExecSql("insert into 类别表 (编码,名称,父级) values ('0301','It''s','03')");
    f.list->CompositionId = 7;
    SendListModel model(*f.list);
    QList<int> inserted; // first rows of the insertions the view is told of
    QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex &, int first, int) { inserted << first; });
    for (const char *n : {"13912345678", "13812345678", "15012345678", "13812345678"})
        f.list->AddToSendList(QString::fromUtf8(n));
    EXPECT_EQ(inserted, (QList<int>{0, 0, 2})); // 138… went in before 139…
    QSqlQuery q = f.db().newQuery();
    f.db().ExecSqlOn(q, "select 号码,组别,姓名,内容 from 发送缓存表 order by 号码", true);
    QStringList rows;
    while (q.next())
        rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                            q.value(3).toString()}
                    .join('|');
    EXPECT_EQ(rows,
              (QStringList{"13812345678|同事|张三|7", "13912345678|It's|O'Brien|7", "15012345678|||7"}));
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(2)).toString(), "15012345678");
    EXPECT_TRUE(f.list->HasRecipients());
    EXPECT_TRUE(f.list->IsRecipient("13912345678"));
    EXPECT_TRUE(f.list->HasSendList());
    EXPECT_EQ(f.list->SendListCount(), 3);

    f.list->ClearSendList();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(f.list->HasRecipients());
    EXPECT_FALSE(f.list->HasSendList());
    EXPECT_EQ(f.list->SendListCount(), 0);
    EXPECT_EQ(f.list->classCounts(), (std::array<int, 4>{}));
}

TEST(SendList, ReloadShowsProgressEveryHundredRowsThenTheCount)
{
    SendingFixture f;
    f.db().inTransaction([&] {
        QSqlQuery q = f.db().newQuery();
        q.prepare("insert into 发送缓存表 (号码) values (?)");
        for (int i = 0; i < 250; ++i) {
            q.addBindValue(QString::number(13800000000LL + (i * 7919) % 1000));
            ASSERT_TRUE(q.exec());
        }
        q.addBindValue(QString::number(13800000000LL)); // a repeat from a folder drop
        ASSERT_TRUE(q.exec());
    });
    f.list->ReloadSendList();
    EXPECT_EQ(f.captions, (QStringList{" 载入进度: (100/251)", " 载入进度: (200/251)", " 载入进度: (251/251)",
                                       "接收号码列表: (250)"}));
    EXPECT_EQ(f.list->caption(), "接收号码列表: (250)");
    EXPECT_EQ(f.list->numbers().toStringList(), f.tableNumbers().mid(1)); // sorted, repeat dropped
    EXPECT_EQ(f.list->classCounts(), (std::array<int, 4>{0, 250, 0, 0}));

    // A cancelled reload keeps what it read.
    std::atomic<bool> cancel{true};
    f.db().inTransaction([&] {
        QSqlQuery q = f.db().newQuery();
        q.prepare("insert into 发送缓存表 (号码) values (?)");
        for (int i = 0; i < 2000; ++i) {
            q.addBindValue(QString::number(13900000000LL + i));
            ASSERT_TRUE(q.exec());
        }
    });
    f.list->ReloadSendList(&cancel);
    EXPECT_EQ(f.list->numbers().count(), SendList::eventStep() - 1); // rows read, less the repeat
}

TEST(SendList, DeleteAsksThenRemovesTheSelectedRows)
{
    SendingFixture f;
    for (const char *n : {"13812345678", "13912345678", "02012345678", "15012345678"})
        f.list->AddToSendList(QString::fromUtf8(n));
    // Sorted: 02012345678, 13812345678, 13912345678, 15012345678.
    f.prompter.answer(Prompter::Answer::No);
    f.list->DeleteSelected({0, 2});
    f.prompter.answer(Prompter::Answer::Yes);
    f.list->DeleteSelected({});
    EXPECT_EQ(f.list->numbers().count(), 4);
    f.prompter.answer(Prompter::Answer::Yes);
    f.list->DeleteSelected({2, 0});
    EXPECT_EQ(f.prompter.texts(), QStringList(3, "确认要删除你选择的号码吗？"));
    EXPECT_EQ(f.prompter.shown().front().title, "提示");
    EXPECT_EQ(f.list->numbers().toStringList(), (QStringList{"13812345678", "15012345678"}));
    EXPECT_EQ(f.tableNumbers(), f.list->numbers().toStringList());
    EXPECT_EQ(f.list->classCounts(), (std::array<int, 4>{0, 2, 0, 0}));
}

TEST(SendList, FolderNumbersByMenuAndByDrop)
{
    SendingFixture f;
    f.addContact("05", "13812345678", "甲");
    f.addContact("05", "13812345678", "甲二"); // the same number twice in the folder
    f.addContact("05", "02012345678", "乙");
    f.addContact("05", QString(), "无号码");
    f.addContact("05", "", "空号码");
    f.addContact("0501", "13912345678", "子类别");
    f.addContact("06", "15012345678", "别的");
    f.addContact("0'6", "15112345678", "引号");
    f.list->AddToSendList("02012345678");

    f.list->AddFolderNumbers(" 05 ");
    EXPECT_EQ(f.tableNumbers(),
              (QStringList{"02012345678", "13812345678"})); // distinct, direct contacts only
    EXPECT_EQ(f.list->numbers().toStringList(), f.tableNumbers());
    EXPECT_EQ(f.list->caption(), "接收号码列表: (2)");
    f.list->AddFolderNumbers("05"); // nothing new: adds nothing, reloads
    EXPECT_EQ(f.list->SendListCount(), 2);

    f.list->CompositionId = 9;
    f.list->DropFolderNumbers("0501");
    f.list->DropFolderNumbers("0'6");
    QSqlQuery q = f.db().newQuery();
    f.db().ExecSqlOn(q,
                     "select 号码,组别,姓名,内容 from 发送缓存表 where 号码 in ('13912345678','15112345678') "
                     "order by 号码",
                     true);
    QStringList rows;
    while (q.next())
        rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                            q.value(3).toString()}
                    .join('|');
    EXPECT_EQ(rows, (QStringList{"13912345678|0501|子类别|9", "15112345678|0'6|引号|9"}));

    // A drop copies a number held twice in the folder twice (no distinct); the list shows it once.
    f.list->ClearSendList();
    f.list->DropFolderNumbers("05");
    EXPECT_EQ(f.tableNumbers(), (QStringList{"02012345678", "13812345678", "13812345678"}));
    EXPECT_EQ(f.list->numbers().toStringList(), (QStringList{"02012345678", "13812345678"}));

    f.list->AddFolderNumbers(""); // no folder selected: nothing happens
    EXPECT_EQ(f.list->SendListCount(), 3);
}

TEST(SendList, NewNumberSwitchMakesTypedNumbersContacts)
{
    SendingFixture f;
    QStringList contacts;
    int treeReloads = 0;
    f.list->AddAsNewContact = [&](const QString &n) { contacts << n; };
    f.list->ReloadTree = [&] { ++treeReloads; };
    f.list->SubmitTyped("13812345678");
    f.dm->NewNumAutoAddToCard = true;
    f.list->SubmitTyped("013912345678");
    f.list->SubmitTyped("13912345678");
    EXPECT_EQ(contacts, QStringList{"13912345678"});
    EXPECT_EQ(treeReloads, 1);
}

TEST(SendList, FastImportAsksThenMovesTheFirstColumnUncheckedWithoutRepeats)
{
    SendingFixture f;
    f.list->AddToSendList("13812345678");
    f.home.write(
        "fast.txt",
        "13812345678,张三\r\n15412345678\r\nabc\r\n\r\n13912345678\r\n13912345678\r\n 0201234567 \r\n");
    int chosen = 0;
    auto choose = [&] {
        ++chosen;
        return f.home.file("fast.txt");
    };
    f.prompter.answer(Prompter::Answer::No);
    EXPECT_EQ(f.list->FastImport(choose), 0);
    EXPECT_EQ(chosen, 0);
    f.prompter.answer(Prompter::Answer::Yes);
    EXPECT_EQ(f.list->FastImport([] { return QString(); }), 0); // file dialog cancelled
    f.prompter.answer(Prompter::Answer::Yes);
    EXPECT_EQ(f.list->FastImport(choose), 4);
    EXPECT_EQ(f.prompter.texts().first(), SendList::fastImportQuestion());
    EXPECT_EQ(f.tableNumbers(),
              (QStringList{"0201234567", "13812345678", "13912345678", "15412345678", "abc"}));
    // The list is rebuilt from the table: the number that was there before is still shown.
    EXPECT_EQ(f.list->numbers().toStringList(), f.tableNumbers());
    EXPECT_EQ(f.list->classCounts(), (std::array<int, 4>{2, 2, 0, 1}));

    f.prompter.clear();
    f.prompter.answer(Prompter::Answer::Yes);
    EXPECT_EQ(f.list->FastImport([&] { return numberFile("binary.txt"); }), 0);
    EXPECT_EQ(f.prompter.texts().last(), "无法读取文件“binary.txt”：这不是文本文件。");
    EXPECT_EQ(f.list->SendListCount(), 5);
}
