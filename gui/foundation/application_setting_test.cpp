#include "gui/foundation/application_setting.h"

#include <gtest/gtest.h>

#include <fstream>

#include "gui/foundation/file_paths.h"
#include "gui/foundation/string_module.h"
#include "testing/file_bytes.h"
#include "testing/file_size_limit.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using sorvel::testing::FileSizeLimit;
using sorvel::testing::ReadFileBytes;
using sorvel::testing::WriteFileBytes;

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

class ApplicationSettingTest : public ::testing::Test {
 protected:
  std::filesystem::path Write(const std::string& text) {
    WriteFileBytes(file_, text);
    return file_;
  }

  sorvel::testing::ScratchDir dir_;
  std::filesystem::path file_ = dir_ / "sorvel.INI";
};

TEST_F(ApplicationSettingTest, AnEmptyFileReadsEveryDefault) {
  Write("");
  ApplicationSetting settings(Q(file_));
  EXPECT_EQ(settings.ShutdownSuccess(), 8);
  EXPECT_EQ(settings.ShutdownFailed(), 0);
  EXPECT_TRUE(settings.VerifyCompare());
  EXPECT_TRUE(settings.EjectAfterMessage());
  EXPECT_EQ(settings.ScanTimeout(), 200);
  EXPECT_EQ(settings.RemotePort(), kDefaultRemotePort);
  EXPECT_EQ(settings.PathTemp(), "");
  EXPECT_EQ(settings.PathLog(), "");
  EXPECT_EQ(settings.PathLogViewer(), "");
  EXPECT_EQ(settings.RemoteIP(1), "");
  // The usual media are listed when the file names none.
  EXPECT_EQ(settings.DiscCapacity(1), 333000);
  EXPECT_FALSE(settings.DiscCapacityName(6).isEmpty());
  EXPECT_EQ(settings.DiscCapacityName(7), "");
  EXPECT_EQ(settings.DiscCapacity(0), 0);
  EXPECT_FALSE(settings.IsChanged());
  EXPECT_FALSE(settings.Save());  // nothing changed
}

TEST_F(ApplicationSettingTest, ValuesReadByTheirRules) {
  struct Case {
    const char* line;
    std::function<int64_t(const ApplicationSetting&)> read;
    int64_t expected;
  };
  auto success = [](const ApplicationSetting& s) { return s.ShutdownSuccess(); };
  auto timeout = [](const ApplicationSetting& s) { return s.ScanTimeout(); };
  auto verify = [](const ApplicationSetting& s) { return int64_t{s.VerifyCompare()}; };
  auto eject = [](const ApplicationSetting& s) { return int64_t{s.EjectAfterMessage()}; };
  auto port = [](const ApplicationSetting& s) { return s.RemotePort(); };
  const Case cases[] = {
      {"[WRITING]\r\nSHUTDOWNSUCCESS=\r\n", success, 8},
      {"[WRITING]\r\nSHUTDOWNSUCCESS=x\r\n", success, 0},
      {"[WRITING]\r\nSHUTDOWNSUCCESS=32768\r\n", success, 32768},
      {"[WRITING]\r\nSHUTDOWNSUCCESS=&H4000\r\n", success, 0x4000},
      {"[NETWORK]\r\nSCANTIMEOUT=0\r\n", timeout, 200},
      {"[NETWORK]\r\nSCANTIMEOUT=-5\r\n", timeout, 200},
      {"[NETWORK]\r\nSCANTIMEOUT=1\r\n", timeout, 1},
      {"[NETWORK]\r\nSCANTIMEOUT=2.5\r\n", timeout, 2},
      {"[WRITING]\r\nVERIFYCOMPARE= 0\r\n", verify, 0},
      {"[WRITING]\r\nVERIFYCOMPARE=no\r\n", verify, 1},
      {"[WRITING]\r\nVERIFYCOMPARE=00\r\n", verify, 1},
      {"[WRITING]\r\nEJECTAFTERMESSAGE=0\r\n", eject, 0},
      {"[NETWORK]\r\nPORT=9000\r\n", port, 9000},
      {"[NETWORK]\r\nPORT=0\r\n", port, 0},
      {"[NETWORK]\r\nPORT=\r\n", port, kDefaultRemotePort},
  };
  for (const Case& c : cases) {
    Write(c.line);
    ApplicationSetting settings(Q(file_));
    EXPECT_EQ(c.read(settings), c.expected) << c.line;
  }
}

TEST_F(ApplicationSettingTest, MediaListComesFromTheFileWhenItHasOne) {
  Write("[DISCCAPACITY]\r\nMedia1= CD 74 \t333000\r\nMedia2=NoTab\r\nMedia4=\tx\r\nMedia3=\t12\r\n");
  ApplicationSetting settings(Q(file_));
  EXPECT_EQ(settings.DiscCapacityName(1), "CD 74");
  EXPECT_EQ(settings.DiscCapacity(1), 333000);
  EXPECT_EQ(settings.DiscCapacityName(2), "NoTab");
  EXPECT_EQ(settings.DiscCapacity(2), 0);
  EXPECT_EQ(settings.DiscCapacityName(3), "");
  EXPECT_EQ(settings.DiscCapacity(3), 12);
  EXPECT_EQ(settings.DiscCapacityName(5), "");

  // Reading the list inside a tokenizing loop leaves the loop's text alone.
  EXPECT_EQ(StrTok(QString("x|y"), "|"), QString("x"));
  EXPECT_EQ(settings.DiscCapacity(1), 333000);
  EXPECT_EQ(StrTok(std::nullopt, "|"), QString("y"));
}

TEST_F(ApplicationSettingTest, WritesMarkChangesAndSaveByteExact) {
  Write("[network]\r\nport=1\r\n");
  {
    ApplicationSetting settings(Q(file_));
    settings.SetRemotePort(8801);
    EXPECT_TRUE(settings.IsChanged());
    settings.SetShutdownSuccess(0x8000);
    settings.SetVerifyCompare(false);
    settings.SetPathTemp("  /var/tmp  ");
    settings.SetRemoteIP(1, " 127.0.0.1 ");
    settings.SetRemoteIP(2, "127.0.0.2");
    settings.SetRemoteIP(2, "  ");
    settings.SetScanTimeout(500);
    EXPECT_EQ(settings.RemoteIP(2), "");
    EXPECT_EQ(settings.PathTemp(), "/var/tmp");
    EXPECT_EQ(settings.RemotePort(), 8801);  // the hand-edited lower-case key is the one written
    EXPECT_TRUE(settings.Save());
    EXPECT_FALSE(settings.IsChanged());
    EXPECT_FALSE(settings.Save());
  }
  EXPECT_EQ(ReadFileBytes(file_),
            "[network]\r\nport=8801\r\nIP1=127.0.0.1\r\nSCANTIMEOUT=500\r\n\r\n"
            "[WRITING]\r\nSHUTDOWNSUCCESS=32768\r\nVERIFYCOMPARE=0\r\n\r\n"
            "[PATH]\r\nTEMP=/var/tmp\r\n\r\n");
}

TEST_F(ApplicationSettingTest, DestructionSavesAPendingChange) {
  {
    ApplicationSetting settings(Q(file_));
    settings.SetPathLog("/home/u/history.db");
  }
  ApplicationSetting again(Q(file_));
  EXPECT_EQ(again.PathLog(), "/home/u/history.db");
}

TEST_F(ApplicationSettingTest, SavingCreatesTheSettingsFolder) {
  const auto nested = dir_ / "config" / "sorvel" / "sorvel.INI";
  ApplicationSetting settings(Q(nested));
  settings.SetEjectAfterMessage(false);
  EXPECT_TRUE(settings.Save());
  EXPECT_EQ(ReadFileBytes(nested), "[WRITING]\r\nEJECTAFTERMESSAGE=0\r\n\r\n");
}

TEST_F(ApplicationSettingTest, AFullDiskNeverLosesTheSettings) {
  const std::string original = "[PATH]\r\nTEMP=/old\r\n\r\n";
  Write(original);
  ApplicationSetting settings(Q(file_));
  settings.SetPathTemp("/new");
  settings.SetPathLogViewer(QString(4000, QChar('v')));
  {
    FileSizeLimit full(64);
    EXPECT_FALSE(settings.Save());
  }
  EXPECT_TRUE(settings.IsChanged());
  EXPECT_EQ(ReadFileBytes(file_), original);
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) entries += e.path() != file_;
  EXPECT_EQ(entries, 0u);  // no temporary file left behind
  EXPECT_TRUE(settings.Save());  // room again
  ApplicationSetting again(Q(file_));
  EXPECT_EQ(again.PathTemp(), "/new");
}

TEST_F(ApplicationSettingTest, TheProcessWideObjectLivesWhileAcquired) {
  SetProgramPathForTesting(Q(dir_ / "sorvel"));
  EXPECT_EQ(Settings(), nullptr);
  ApplicationSetting* first = AcquireSettings();
  EXPECT_EQ(first->FilePath(), Q(dir_ / "sorvel.INI"));
  EXPECT_EQ(AcquireSettings(), first);
  first->SetRemotePort(9001);
  ReleaseSettings();
  EXPECT_EQ(Settings(), first);
  EXPECT_FALSE(std::filesystem::exists(file_));
  ReleaseSettings();  // the last release saves
  EXPECT_EQ(Settings(), nullptr);
  EXPECT_EQ(ReadFileBytes(file_), "[NETWORK]\r\nPORT=9001\r\n\r\n");
  ReleaseSettings();  // one release too many changes nothing
  EXPECT_EQ(Settings(), nullptr);
  EXPECT_EQ(AcquireSettings()->RemotePort(), 9001);
  ReleaseSettings();
  SetProgramPathForTesting(QString());
}

}  // namespace
}  // namespace sorvel
