// Per-drive settings: defaults, the store's text form and section names,
// clamps of what is loaded, and the write cache size.
#include "gui/model/device_setting.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <optional>

#include "gui/model/fake_engine/fake_engine_control.h"
#include "gui/model/trelin.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

class DeviceSettingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.SetOutput("GetDeviceName", DNC_ALL, QByteArray("VENDOR DVD-RW/CD 1.0\\2\0", 24));
    fake_.SetResult("CheckWriteMode3", 1);
    fake_.SetResult("CheckWriteMode1", 1);
  }
  QString StorePath() const { return QString::fromStdString((dir_ / "Sorvel.ini").string()); }

  testing::FakeEngine fake_{"full", "libtrelin.so"};
  testing::ScratchDir dir_;
  QSettings store_{StorePath(), QSettings::IniFormat};
};

TEST_F(DeviceSettingTest, ADriveNeverSeenLoadsTheDefaults) {
  Trelin trelin;
  DeviceSetting s(&store_);
  s.LoadSetting(trelin);
  EXPECT_EQ(s.section(), QStringLiteral("VENDOR DVD-RW/CD 1.0\\2"));
  EXPECT_EQ(s.ReadBlockLength, 26);
  EXPECT_EQ(s.CDReadCommand, 2);
  EXPECT_EQ(s.DVDReadCommand, 0);
  EXPECT_FALSE(s.ReadFirstPregap || s.IgnoreError || s.BurstErrorSkip || s.OnlyFirstSession ||
               s.UnableToAnalizePregap || s.CollectSubPQRead || s.ErrorFirstPregap || s.OverBurn || s.OPCOff);
  EXPECT_EQ(s.RetryCount, 0);
  EXPECT_EQ(s.SkipUnit, 100);
  EXPECT_EQ(s.WriteBlockLength, 26);
  EXPECT_EQ(s.CDWriteCommand, 3);  // the drive's best of the supported 1 and 3
  EXPECT_EQ(s.DVDWriteCommand, 0);
  EXPECT_EQ(s.WriteCacheBufferRate, 10);
  EXPECT_TRUE(s.CollectSubPQWrite);
  EXPECT_EQ(s.VerifyPassFrom, -2);
  EXPECT_EQ(s.VerifyPassTo, 0);
  EXPECT_TRUE(s.ForceEject);
  EXPECT_EQ(s.CDReadCommandName(), QStringLiteral("RAW+SUB16"));
  EXPECT_EQ(s.CDWriteCommandName(), QStringLiteral("DAO RAW+SUB16"));
}

TEST_F(DeviceSettingTest, SavedValuesComeBackUnderTheWholeDriveName) {
  Trelin trelin;
  {
    DeviceSetting s(&store_);
    s.LoadSetting(trelin);
    s.ReadBlockLength = 16;
    s.IgnoreError = true;
    s.CDWriteCommand = 4;
    s.VerifyPassFrom = -5;
    s.ForceEject = false;
    store_.setValue(QStringLiteral("%1/CollectSubQRead").arg(DeviceSetting::SectionName(s.section())), "1");
    s.SaveSetting();
  }
  DeviceSetting s(&store_);
  s.LoadSetting(trelin);
  EXPECT_EQ(s.ReadBlockLength, 16);
  EXPECT_TRUE(s.IgnoreError);
  EXPECT_EQ(s.CDWriteCommand, 4);
  EXPECT_EQ(s.VerifyPassFrom, -5);
  EXPECT_FALSE(s.ForceEject);
  // One section, the slash and backslash of the name kept; the old key gone; texts as written.
  EXPECT_EQ(store_.childGroups(), QStringList{DeviceSetting::SectionName(s.section())});
  store_.beginGroup(DeviceSetting::SectionName(s.section()));
  EXPECT_EQ(store_.childKeys().size(), 22);
  EXPECT_EQ(store_.value("IgnoreError").toString(), QStringLiteral("True"));
  EXPECT_EQ(store_.value("VerifyPassFrom").toString(), QStringLiteral("-5"));
  EXPECT_FALSE(store_.contains("CollectSubQRead"));
  store_.endGroup();
  EXPECT_EQ(DeviceSetting::SectionName(QStringLiteral("A/B\\C%D")), QStringLiteral("A%2FB%5CC%25D"));
}

TEST_F(DeviceSettingTest, LoadedValuesAreConvertedAndClamped) {
  Trelin trelin;
  const QString group = DeviceSetting::SectionName(trelin.GetDeviceName(DNC_ALL)) + QLatin1Char('/');
  const std::pair<const char*, const char*> stored[] = {
      {"SkipUnit", "0"},           {"RetryCount", "999"},     {"WriteCacheBufferRate", "250"},
      {"ReadBlockLength", "40000"}, {"CDReadCommand", "abc"},  {"OverBurn", "-1"},
      {"OPCOff", "maybe"},         {"ForceEject", "false"},   {"DVDReadCommand", " 7 "},
  };
  for (const auto& [key, value] : stored) store_.setValue(group + QLatin1String(key), QString::fromLatin1(value));
  DeviceSetting s(&store_);
  s.LoadSetting(trelin);
  EXPECT_EQ(s.SkipUnit, 1);
  EXPECT_EQ(s.RetryCount, 255);
  EXPECT_EQ(s.WriteCacheBufferRate, 100);
  EXPECT_EQ(s.ReadBlockLength, 26);  // beyond 16 bits: the default
  EXPECT_EQ(s.CDReadCommand, 2);
  EXPECT_TRUE(s.OverBurn);
  EXPECT_FALSE(s.OPCOff);
  EXPECT_FALSE(s.ForceEject);
  EXPECT_EQ(s.DVDReadCommand, 7);
  store_.setValue(group + "RetryCount", "-3");
  s.LoadSetting(trelin);
  EXPECT_EQ(s.RetryCount, 0);
}

TEST_F(DeviceSettingTest, ClearForgetsTheDriveSoNothingIsSaved) {
  Trelin trelin;
  DeviceSetting s(&store_);
  s.SaveSetting();
  s.LoadSetting(trelin);
  s.Clear();
  EXPECT_TRUE(s.section().isEmpty());
  EXPECT_EQ(s.CDWriteCommand, 0);
  s.SaveSetting();
  EXPECT_TRUE(store_.allKeys().isEmpty());
}

TEST(DeviceSettingNamesTest, CommandNames) {
  DeviceSetting s;
  const std::pair<int, const char*> reads[] = {{0, ""}, {1, "RAW"}, {2, "RAW+SUB16"}, {3, "RAW+SUB96"}, {4, ""}};
  for (const auto& [code, name] : reads) {
    s.CDReadCommand = code;
    EXPECT_EQ(s.CDReadCommandName(), QString::fromLatin1(name));
  }
  const std::pair<int, const char*> writes[] = {
      {0, "SAO"}, {1, "SAO RAW"}, {2, ""}, {3, "DAO RAW+SUB16"}, {4, "DAO RAW+SUB96"}, {-1, ""}};
  for (const auto& [code, name] : writes) {
    s.CDWriteCommand = code;
    EXPECT_EQ(s.CDWriteCommandName(), QString::fromLatin1(name));
  }
}

TEST(DeviceSettingFlagsTest, EachReadSettingAddsItsFlag) {
  DeviceSetting setting;
  setting.ReadFirstPregap = setting.OnlyFirstSession = setting.UnableToAnalizePregap = setting.CollectSubPQRead = false;
  EXPECT_EQ(setting.CDReadFlags(), 0);
  setting.ReadFirstPregap = true;
  EXPECT_EQ(setting.CDReadFlags(), 0x4);
  setting.OnlyFirstSession = true;
  EXPECT_EQ(setting.CDReadFlags(), 0x8004);
  setting.UnableToAnalizePregap = true;
  EXPECT_EQ(setting.CDReadFlags(), 0xC004);
  setting.CollectSubPQRead = true;
  EXPECT_EQ(setting.CDReadFlags(), 0x80C004);
  setting.ReadFirstPregap = false;
  EXPECT_EQ(setting.CDReadFlags(), 0x80C000);
}

TEST(DeviceSettingCacheTest, SizeFromFreeMemoryAndRate) {
  constexpr int64_t kMiB = 1 << 20;
  const struct {
    int64_t free;
    int32_t rate;
    int32_t size;
  } cases[] = {
      {300 * kMiB, 10, 30}, {20 * kMiB, 10, 5}, {300 * kMiB, 0, 0}, {3 * 1024 * kMiB, 100, 2047},
      {300 * kMiB, -4, 0},  {0, 50, 5},         {300 * kMiB, 1000, 300},
  };
  for (const auto& c : cases) EXPECT_EQ(DeviceSetting::CacheSizeFor(c.free, c.rate), c.size) << c.free << " " << c.rate;
}

TEST(DeviceSettingCacheTest, AvailableMemoryFromMeminfo) {
  testing::ScratchDir dir;
  const QString path = QString::fromStdString((dir / "meminfo").string());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("MemTotal:       16000000 kB\nMemFree:         1000 kB\nMemAvailable:    307200 kB\n");
  file.close();
  EXPECT_EQ(DeviceSetting::AvailableMemory(path), 307200LL * 1024);
  EXPECT_EQ(DeviceSetting::AvailableMemory(path + "x"), 0);
  EXPECT_GT(DeviceSetting::AvailableMemory(), 0);
}

}  // namespace
}  // namespace sorvel

namespace sorvel {
namespace {

// The program's own store: an INI file in the user's configuration folder
// that an independent reader takes, one section per drive.
TEST(DeviceSettingStoreTest, DefaultStoreIsAnIniFileOfTheUserConfigFolder) {
  ASSERT_TRUE(testing::RequireTool("python3"));
  testing::ScratchDir dir;
  std::optional<testing::ScopedEnv> config(std::in_place, "XDG_CONFIG_HOME", dir.path().string());
  testing::FakeEngine fake("full", "libtrelin.so");
  fake.SetOutput("GetDeviceName", DNC_ALL, QByteArray("MAKER DRIVE/X 2.00\0", 19));
  {
    Trelin trelin;
    DeviceSetting s;
    s.LoadSetting(trelin);
    s.RetryCount = 12;
    s.SaveSetting();
  }
  config.reset();
  const std::string ini = (dir / "sorvel" / "user-settings.ini").string();
  std::string out;
  ASSERT_EQ(testing::RunCommand("python3 -c \"import configparser,sys; c=configparser.ConfigParser(interpolation=None); "
                                "c.optionxform=str; c.read(sys.argv[1]); "
                                "from urllib.parse import unquote; "
                                "[print(unquote(unquote(s)), c[s]['RetryCount'], len(c[s])) for s in c.sections()]\" '" +
                                    ini + "'",
                                &out),
            0)
      << out;
  // The store percent-encodes section names, over our own encoding of "/".
  EXPECT_EQ(out, "MAKER DRIVE/X 2.00 12 22\n");
}

}  // namespace
}  // namespace sorvel
