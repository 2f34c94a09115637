#include "TempHome.h"
#include "common/HomeFolder.h"
#include "common/IniFile.h"
#include "common/VelaroError.h"
#include "store/SettingsStore.h"
#include <QFile>
#include <gtest/gtest.h>

TEST(SettingsStore, GlobalNamesIgnoreCaseAndAccountNamesFollowTheUser)
{
    TempHome home;
    SettingsStore s;
    s.WriteSetting("AutoUpdate", "0");
    EXPECT_EQ(s.ReadSetting("autoupdate", QString("1")), "0");
    EXPECT_EQ(s.ReadSetting("AUTOUPDATE", QString("1")), "0");

    s.WriteSetting("user", "alice");
    s.WriteSetting("FiltrateCRLF", "0");
    s.WriteSetting("proxyIp", "10.0.0.1");
    EXPECT_EQ(s.ReadSetting("proxyip"), "10.0.0.1");
    s.WriteSetting("user", "bob");
    EXPECT_EQ(s.ReadSetting("FiltrateCRLF", QString("1")), "1");
    EXPECT_EQ(s.ReadSetting("proxyip"), "");
    // Global values do not move with the user.
    EXPECT_EQ(s.ReadSetting("AutoUpdate", QString("1")), "0");
    s.WriteSetting("user", "ALICE");
    EXPECT_EQ(s.ReadSetting("FiltrateCRLF", QString("1")), "0");
    EXPECT_EQ(s.GetCurrentUser(), "ALICE");
}

TEST(SettingsStore, EmptyReadsAsDefaultAndIsWrittenNotDeleted)
{
    TempHome home;
    SettingsStore s;
    s.WriteSetting("user", "u1");
    s.WriteSetting("Logged", "");
    EXPECT_EQ(s.ReadSetting("Logged", QString("1")), "1");
    EXPECT_EQ(s.ReadSetting("Logged"), "");
    IniFile ini(IniFile::Mode::Escaped);
    ASSERT_TRUE(ini.load(s.path()));
    EXPECT_TRUE(ini.contains("tvsms", "Logged"));
}

TEST(SettingsStore, BeforeLoginAccountValuesLiveInTheMachineSection)
{
    TempHome home;
    SettingsStore s;
    s.WriteSetting("skin", "blue");
    IniFile ini(IniFile::Mode::Escaped);
    ASSERT_TRUE(ini.load(s.path()));
    EXPECT_EQ(ini.value("tvsms", "skin"), "blue");
    // Forcing global reads the machine section even after a login.
    s.WriteSetting("user", "carol");
    EXPECT_EQ(s.ReadSetting("skin", std::nullopt, true), "blue");
    EXPECT_EQ(s.ReadSetting("skin"), "");
}

TEST(SettingsStore, AnyTextSurvivesInNamesAndValues)
{
    TempHome home;
    SettingsStore s;
    const QString login = "we[ird]=name;\\x";
    const QString value = "line1\nline2\r\n=[x]; \\n tail ";
    s.WriteSetting("user", login);
    s.WriteSetting("reply_msg", value);
    s.WriteSetting("mobile", " 138 ");
    SettingsStore again;
    EXPECT_EQ(again.GetCurrentUser(), login);
    EXPECT_EQ(again.ReadSetting("reply_msg"), value);
    EXPECT_EQ(again.ReadSetting("mobile"), " 138 ");
}

TEST(SettingsStore, UnwritableStoreRaisesAClearError)
{
    TempHome home;
    // A regular file where the folder should be: fails for every user, root included.
    home.write("blocker", "x");
    SettingsStore s(home.file("blocker/settings.ini"));
    try {
        s.WriteSetting("skin", "y");
        ADD_FAILURE() << "no error";
    } catch (const VelaroError &e) {
        EXPECT_TRUE(e.text().contains(home.file("blocker"))) << e.text().toStdString();
    }
    EXPECT_EQ(s.ReadSetting("skin", QString("d")), "d");

    qputenv("VELARO_HOME", QFile::encodeName(home.file("blocker/home")));
    try {
        HomeFolder::ensure();
        ADD_FAILURE() << "no error";
    } catch (const VelaroError &e) {
        EXPECT_TRUE(e.text().startsWith("无法创建程序数据文件夹")) << e.text().toStdString();
    }
}

TEST(SettingsStore, AutoStartOffKeepsTheEntryDisabled)
{
    TempHome home;
    SettingsStore::SetAutoStart(true);
    IniFile on;
    ASSERT_TRUE(on.load(SettingsStore::autoStartEntryPath()));
    EXPECT_EQ(on.value("Desktop Entry", "Hidden"), "false");
    const QString exec = on.value("Desktop Entry", "Exec");
    EXPECT_FALSE(exec.isEmpty());

    SettingsStore::SetAutoStart(false);
    IniFile off;
    ASSERT_TRUE(QFile::exists(SettingsStore::autoStartEntryPath()));
    ASSERT_TRUE(off.load(SettingsStore::autoStartEntryPath()));
    EXPECT_EQ(off.value("Desktop Entry", "Hidden"), "true");
    EXPECT_EQ(off.value("Desktop Entry", "X-GNOME-Autostart-enabled"), "false");
    EXPECT_EQ(off.value("Desktop Entry", "Exec"), exec);
}
