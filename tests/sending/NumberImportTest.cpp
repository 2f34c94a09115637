#include "sending/NumberImport.h"
#include "SendingFixture.h"
#include "common/VelaroError.h"
#include "sending/TableReader.h"
#include <xlsxwriter.h>

namespace {

QStringList column(const TableReader::Rows &rows, int c)
{
    QStringList out;
    for (const QStringList &r : rows)
        out << (c < r.size() ? r[c] : QString());
    return out;
}

QStringList readColumn(const QString &file, int c, int table = 0)
{
    auto reader = TableReader::open(numberFile(file));
    return column(reader->readRows(table), c);
}

QString openError(const QString &file)
{
    try {
        auto r = TableReader::open(numberFile(file));
        r->readRows(0);
    } catch (const VelaroError &e) {
        return e.text();
    }
    return QString();
}

} // namespace

TEST(TableReader, TextFilesInEveryEncodingAndLineEnd)
{
    const QStringList expected{"手机号码",    "13812345678", "013912345678", "2012345678",
                               "15412345678", "abc",         "13812345678",  "张三"};
    for (const char *file : {"utf8.txt", "utf8bom.txt", "gbk.txt", "utf16.txt"})
        EXPECT_EQ(readColumn(QString::fromUtf8(file), 0), expected) << file;

    auto csv = TableReader::open(numberFile("contacts.csv"));
    EXPECT_EQ(csv->tableNames(), QStringList{"contacts#csv"});
    const auto rows = csv->readRows(0);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2], (QStringList{"李,四", "13912345678"}));
    EXPECT_EQ(rows[3], (QStringList{"王五", ""}));
    EXPECT_EQ(readColumn("tabs.txt", 1), (QStringList{"手机", "13812345678"}));
    EXPECT_EQ(readColumn("floats.csv", 0), (QStringList{"1.3812345678E10", "13912345678.0", "1.5E3"}));
    EXPECT_TRUE(TableReader::open(numberFile("empty.txt"))->readRows(0).empty());
}

TEST(TableReader, SpreadsheetsFromRealWriters)
{
    // openpyxl: inline strings, numbers, a formula without a cached value, blanks.
    const QStringList fromXlsx{"手机", "13812345678", "13912345678",   "13712345678", "",
                               "",     "2012345678",  " 15012345678 ", "13812345678", "电话"};
    auto xlsx = TableReader::open(numberFile("numbers.xlsx"));
    EXPECT_EQ(xlsx->tableNames(), (QStringList{"号码", "空表"}));
    EXPECT_EQ(column(xlsx->readRows(0), 0), fromXlsx);
    EXPECT_EQ(column(xlsx->readRows(0), 1)[1], "张三");
    EXPECT_TRUE(xlsx->readRows(1).empty());
    EXPECT_EQ(readColumn("exponent.xlsx", 0), fromXlsx); // numbers written as 1.3812345678E10

    // xlwt: the same rows in the old format; freexl gives formulas no value.
    auto xls = TableReader::open(numberFile("numbers.xls"));
    EXPECT_EQ(xls->tableNames(), (QStringList{"号码", "空表"}));
    EXPECT_EQ(column(xls->readRows(0), 0), fromXlsx);
    EXPECT_TRUE(xls->readRows(1).empty());
}

TEST(TableReader, SharedStringsInlineStringsAndCachedFormulaValuesByLibxlsxwriter)
{
    TempHome home;
    for (bool constantMemory : {false, true}) { // constant memory mode writes inline strings
        const QByteArray path = QFile::encodeName(home.file(constantMemory ? "inline.xlsx" : "shared.xlsx"));
        lxw_workbook_options options{};
        options.constant_memory = constantMemory;
        lxw_workbook *wb = workbook_new_opt(path.constData(), &options);
        lxw_worksheet *ws = workbook_add_worksheet(wb, "名单");
        worksheet_write_string(ws, 0, 0, "手机", nullptr);
        worksheet_write_string(ws, 0, 3, "姓名", nullptr);
        worksheet_write_number(ws, 1, 0, 13812345678.0, nullptr);
        worksheet_write_string(ws, 1, 3, "张三", nullptr);
        worksheet_write_formula_num(ws, 2, 0, "=A2+1", nullptr, 13812345679.0);
        worksheet_write_formula_str(ws, 3, 0, "=\"0\"&\"201234567\"", nullptr, "0201234567");
        worksheet_write_string(ws, 5, 0, "15012345678", nullptr); // row 5 left out: a blank row
        worksheet_write_boolean(ws, 6, 0, 1, nullptr);
        ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

        auto r = TableReader::open(QFile::decodeName(path));
        EXPECT_EQ(r->tableNames(), QStringList{"名单"});
        const auto rows = r->readRows(0);
        EXPECT_EQ(column(rows, 0), (QStringList{"手机", "13812345678", "13812345679", "0201234567", "",
                                                "15012345678", "TRUE"}))
            << constantMemory;
        EXPECT_EQ(rows[1], (QStringList{"13812345678", "", "", "张三"}));
    }
}

TEST(TableReader, BadFilesGiveClearMessages)
{
    EXPECT_EQ(openError("binary.txt"), "无法读取文件“binary.txt”：这不是文本文件。");
    EXPECT_EQ(openError("notzip.xlsx"), "无法读取文件“notzip.xlsx”：这不是有效的 Excel 文件。");
    TempHome home;
    home.write("broken.xls", QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(600, 'x'));
    home.write("cut.xlsx", QByteArray("PK\x03\x04", 4) + QByteArray(100, '\0'));
    QFile::copy(numberFile("numbers.xlsx"), home.file("book.txt")); // a workbook named as text
    for (const char *f : {"broken.xls", "cut.xlsx", "book.txt"}) {
        try {
            TableReader::open(home.file(f))->readRows(0);
            ADD_FAILURE() << f;
        } catch (const VelaroError &e) {
            EXPECT_TRUE(e.text().startsWith(QStringLiteral("无法读取文件“%1”：").arg(f)))
                << e.text().toStdString();
        }
    }
}

TEST(TableReader, FiveMegabyteLines)
{
    const auto longRows = TableReader::open(numberFile("long.txt"))->readRows(0);
    ASSERT_EQ(longRows.size(), 3u);
    EXPECT_EQ(longRows[0].first().size(), 5 * 1024 * 1024);
    const auto wide = TableReader::open(numberFile("wide.csv"))->readRows(0);
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[0].size(), TableReader::kMaxColumns);
    EXPECT_EQ(wide[1], QStringList{"13812345678"});
}

TEST(CellText, FloatsBecomeDigits)
{
    const std::pair<const char *, const char *> cases[] = {
        {"1.3812345678E10", "13812345678"},
        {"1.3812345678e+10", "13812345678"},
        {"13912345678.0", "13912345678"},
        {"13912345678.", "13912345678"},
        {"1.5E3", "1500"},
        {"1.5", "1.5"},
        {"2.5E0", "2.5"},
        {"138.1234", "138.1234"},
        {"abc", "abc"},
        {"1E400", "1E400"},
        {"", ""},
        {"138e", "138e"},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(CellText::fromText(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
    EXPECT_EQ(CellText::fromNumber(13812345678.0), "13812345678");
    EXPECT_EQ(CellText::fromNumber(0.5), "0.5");
}

TEST(NumberImport, ValueRulesOfTheImport)
{
    const std::pair<const char *, const char *> cases[] = {
        {"13812345678", "13812345678"},
        {" 13812345678 ", "13812345678"},
        {"15412345678", "015412345678"},
        {"2012345678", "02012345678"},
        {"013812345678", "13812345678"},
        {"", ""},
        {"abc", ""},
        {"1a2345678901", ""},
        {"12", ""},
        {"138123456789", ""},
        {"02012345678901", ""},
        {"020123456", ""},
        {"201234567", "0201234567"},
        {"+8613812345678", ""},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(NumberImport::numberFromCell(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(NumberImport, HeaderModeTablesFieldsAndCounts)
{
    SendingFixture f;
    f.list->AddToSendList("13912345678");
    NumberImport imp(*f.list);
    imp.open(numberFile("numbers.xlsx"), false); // first row holds the names
    EXPECT_EQ(imp.tables(), (QStringList{"号码", "空表"}));
    imp.selectTable(0);
    EXPECT_EQ(imp.fields(), (QStringList{"手机", "姓名"}));
    // Distinct values: the repeated 13812345678 and the two blanks count once.
    EXPECT_EQ(imp.distinctValues(0), (QStringList{"13812345678", "13912345678", "13712345678", "",
                                                  "2012345678", " 15012345678 ", "电话"}));
    imp.setFirstRowIsNumber(true);
    EXPECT_EQ(imp.fields(), (QStringList{"F1", "F2"}));
    EXPECT_EQ(imp.distinctValues(0).size(), 8);
    imp.setFirstRowIsNumber(false);

    std::atomic<bool> cancel{false};
    QList<int> progress;
    const auto c = imp.run(
        0, [&](int done, int total) { progress << done << total; }, cancel);
    EXPECT_EQ(c.rows, 7);
    EXPECT_EQ(c.errors, 2); // the blank and "电话"
    EXPECT_EQ(c.done, 5);   // 13912345678 was in the list already and still counts
    EXPECT_FALSE(c.cancelled);
    EXPECT_EQ(progress, (QList<int>{0, 7, 7, 7}));
    EXPECT_EQ(NumberImport::resultText(c), "导入完毕，本次共有数据7,其中错误手机号有2,已成功导入5");
    const QStringList all{"02012345678", "13712345678", "13812345678", "13912345678", "15012345678"};
    EXPECT_EQ(f.tableNumbers(), all);
    EXPECT_EQ(f.list->numbers().toStringList(), all);
    EXPECT_EQ(f.list->classCounts(), (std::array<int, 4>{0, 4, 0, 1}));

    imp.selectTable(1); // a sheet without rows has no fields and nothing to import
    EXPECT_TRUE(imp.fields().isEmpty());
    EXPECT_EQ(imp.run(0, {}, cancel).rows, 0);
}

TEST(NumberImport, EveryFileKindGivesTheSameCounts)
{
    struct Case {
        const char *file;
        bool firstRowIsNumber;
        int field, rows, errors, done;
    };
    const Case cases[] = {
        {"utf8.txt", true, 0, 7, 3, 4}, // 手机号码, abc, 张三 fail; 15412345678 gets its 0
        {"utf8bom.txt", false, 0, 6, 2, 4}, {"gbk.txt", false, 0, 6, 2, 4},
        {"utf16.txt", false, 0, 6, 2, 4},   {"contacts.csv", false, 1, 3, 1, 2},
        {"floats.csv", true, 0, 3, 1, 2}, // 1.5E3 is 1500: too short
        {"numbers.xls", false, 0, 7, 2, 5}, {"exponent.xlsx", false, 0, 7, 2, 5},
        {"long.txt", true, 0, 3, 1, 2},     {"wide.csv", true, 0, 3, 0, 3},
        {"empty.txt", true, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SendingFixture f;
        NumberImport imp(*f.list);
        imp.open(numberFile(QString::fromUtf8(c.file)), c.firstRowIsNumber);
        imp.selectTable(0);
        std::atomic<bool> cancel{false};
        const auto got = imp.run(c.field, {}, cancel);
        EXPECT_EQ(got.rows, c.rows) << c.file;
        EXPECT_EQ(got.errors, c.errors) << c.file;
        EXPECT_EQ(got.done, c.done) << c.file;
        EXPECT_EQ(f.list->numbers().count(), f.list->SendListCount()) << c.file;
    }
}

TEST(NumberImport, CancelStopsAndKeepsWhatWasImported)
{
    SendingFixture f;
    TempHome home;
    QByteArray text;
    for (int i = 0; i < 3000; ++i)
        text += QByteArray::number(13800000000LL + i) + "\n";
    home.write("many.txt", text);
    NumberImport imp(*f.list);
    imp.open(home.file("many.txt"), true);
    imp.selectTable(0);
    std::atomic<bool> cancel{false};
    int rounds = 0;
    f.list->processEvents = [&] {
        if (++rounds == 3)
            cancel = true; // "取消(&C)" pressed while the second batch ran
    };
    const auto c = imp.run(0, {}, cancel);
    EXPECT_TRUE(c.cancelled);
    EXPECT_EQ(c.rows, 3000);
    EXPECT_EQ(c.done, 2 * SendList::eventStep());
    EXPECT_EQ(f.list->SendListCount(), c.done);
    EXPECT_EQ(f.list->numbers().count(), c.done);
}
