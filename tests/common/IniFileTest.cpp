#include "common/IniFile.h"
#include <gtest/gtest.h>

TEST(IniFile, WindowsRulesForHandWrittenFiles)
{
    IniFile ini;
    ini.parse("garbage before any section\r\n"
              "[Ver]\r\n"
              "ProductName = 速达短信 \r\n"
              "; comment=1\r\n"
              "productname=second is ignored\r\n"
              "VersionName=\r\n"
              "\x01\x02 binary junk\r\n"
              "[AboutMemo]\r\n"
              "第一行\r\n"
              "second=line\r\n"
              "[broken\r\n");
    EXPECT_EQ(ini.value("ver", "PRODUCTNAME"), "速达短信");
    EXPECT_EQ(ini.value("Ver", "VersionName", "x"), "");
    EXPECT_FALSE(ini.contains("Ver", "comment"));
    EXPECT_EQ(ini.keys("AboutMemo"), (QStringList{"第一行", "second"}));
    bool ok = true;
    ini.setValue("db", "DBType", "abc");
    EXPECT_EQ(ini.intValue("db", "DBType", 7, &ok), 7);
    EXPECT_FALSE(ok);
}
