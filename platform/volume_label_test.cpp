#include "platform/volume_label.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "platform/emulated_device.h"
#include "testing/cd_image_fixture.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/test_paths.h"

namespace sorvel::platform {
namespace {

namespace fs = std::filesystem;

// A descriptor set in memory: sector number -> 2,048 bytes.
struct Descriptors {
  std::map<int32_t, std::vector<uint8_t>> sectors;
  std::vector<uint8_t>& Add(int32_t lba, uint8_t type) {
    std::vector<uint8_t>& s = sectors[lba];
    s.assign(2048, 0);
    s[0] = type;
    std::memcpy(s.data() + 1, "CD001", 5);
    s[6] = 1;
    return s;
  }
  SectorReader Reader() const {
    return [this](int32_t lba, uint8_t* out) {
      auto it = sectors.find(lba);
      if (it == sectors.end()) return false;
      std::memcpy(out, it->second.data(), 2048);
      return true;
    };
  }
};

void PutPrimaryId(std::vector<uint8_t>& s, const std::string& id) {
  std::memset(s.data() + 40, ' ', 32);
  std::memcpy(s.data() + 40, id.data(), id.size());
}

void PutJolietId(std::vector<uint8_t>& s, const std::u16string& id) {
  s[88] = '%';
  s[89] = '/';
  s[90] = 'E';
  for (size_t i = 0; i < 16; ++i) {
    const char16_t c = i < id.size() ? id[i] : u' ';
    s[40 + 2 * i] = static_cast<uint8_t>(c >> 8);
    s[41 + 2 * i] = static_cast<uint8_t>(c);
  }
}

TEST(IsoVolumeLabelTest, DescriptorSets) {
  {  // primary only, blanks after the name removed, inner blank kept
    Descriptors d;
    PutPrimaryId(d.Add(16, 1), "MY DISC");
    d.Add(17, 255);
    EXPECT_EQ(IsoVolumeLabel(d.Reader()), "MY DISC");
  }
  {  // Joliet wins over the primary identifier, wherever it stands
    Descriptors d;
    PutPrimaryId(d.Add(16, 1), "SHORT");
    d.Add(17, 0);  // boot record
    PutJolietId(d.Add(18, 2), u"長い名前 Disc");
    d.Add(19, 255);
    EXPECT_EQ(IsoVolumeLabel(d.Reader()), "長い名前 Disc");
  }
  {  // a supplementary descriptor without Joliet's escape is not Joliet
    Descriptors d;
    PutPrimaryId(d.Add(16, 1), "PRIMARY");
    d.Add(17, 2);
    d.Add(18, 255);
    EXPECT_EQ(IsoVolumeLabel(d.Reader()), "PRIMARY");
  }
  {  // CP932 identifier of the primary descriptor
    Descriptors d;
    PutPrimaryId(d.Add(16, 1), "\x83\x65\x83\x58\x83\x67");  // テスト
    d.Add(17, 255);
    EXPECT_EQ(IsoVolumeLabel(d.Reader()), "テスト");
  }
  {  // descriptors after the terminator are not read
    Descriptors d;
    PutPrimaryId(d.Add(16, 1), "A");
    d.Add(17, 255);
    PutJolietId(d.Add(18, 2), u"B");
    EXPECT_EQ(IsoVolumeLabel(d.Reader()), "A");
  }
  {  // no volume, unreadable sector 16, all-blank label
    Descriptors none;
    EXPECT_EQ(IsoVolumeLabel(none.Reader()), "");
    Descriptors garbage;
    garbage.Add(16, 1)[1] = 'X';
    EXPECT_EQ(IsoVolumeLabel(garbage.Reader()), "");
    Descriptors blank;
    PutPrimaryId(blank.Add(16, 1), "");
    EXPECT_EQ(IsoVolumeLabel(blank.Reader()), "");
  }
  {  // an endless chain of descriptors stops
    int reads = 0;
    std::vector<uint8_t> s(2048, 0);
    s[0] = 0;
    std::memcpy(s.data() + 1, "CD001", 5);
    EXPECT_EQ(IsoVolumeLabel([&](int32_t, uint8_t* out) {
                ++reads;
                std::memcpy(out, s.data(), 2048);
                return true;
              }),
              "");
    EXPECT_LE(reads, 64);
  }
}

fs::path MakeLabelledIso(const fs::path& dir, const std::string& name, const std::string& label, bool joliet) {
  fs::create_directories(dir / "root");
  testing::RunCommand("echo data > '" + (dir / "root" / "a.txt").string() + "'");
  const fs::path iso = dir / name;
  std::string output;
  const std::string command = std::string("genisoimage -quiet -input-charset utf-8 -r ") + (joliet ? "-J " : "") +
                              "-V '" + label + "' -o '" + iso.string() + "' '" + (dir / "root").string() + "' 2>&1";
  EXPECT_EQ(testing::RunCommand(command, &output), 0) << output;
  return iso;
}

TEST(VolumeLabelTest, EmulatedDrives) {
  ASSERT_TRUE(testing::RequireTool("genisoimage"));
  testing::ScratchDir dir;
  const fs::path joliet = MakeLabelledIso(dir.path(), "j.iso", "MY DISC", true);
  const fs::path plain = MakeLabelledIso(dir.path(), "p.iso", "PLAIN_DISC", false);
  const fs::path japanese = MakeLabelledIso(dir.path(), "jp.iso", "日本語ラベル", true);
  const testing::CueFixture audio = testing::MakeCueImage(dir.path(), "audio", {{true, 0, 300, "", false}});
  testing::EmulatedDriveFixture d(dir, "medium=dvd-rom,image=" + joliet.string(), "d");
  testing::EmulatedDriveFixture e(dir, "medium=dvd-rom,image=" + plain.string(), "e");
  testing::EmulatedDriveFixture f(dir, "image=" + audio.cue.string(), "f");
  testing::EmulatedDriveFixture g(dir, "medium=none", "g");
  testing::EmulatedDriveFixture h(dir, "medium=dvd-rom,image=" + japanese.string(), "h");
  const DriveMap map = DriveMap::Parse("D:=" + d.device() + ";E:=" + e.device() + ";F:=" + f.device() + ";G:=" +
                                           g.device() + ";H:=" + h.device(),
                                       ';');
  ASSERT_TRUE(map.errors().empty());
  EXPECT_EQ(VolumeLabel('D', map), "MY DISC");
  EXPECT_EQ(VolumeLabel('e', map), "PLAIN_DISC");
  EXPECT_EQ(VolumeLabel('F', map), "");  // audio only
  EXPECT_EQ(VolumeLabel('G', map), "");  // empty drive
  EXPECT_EQ(VolumeLabel('H', map), "日本語ラベル");
  EXPECT_EQ(VolumeLabel('Z', map), "");  // not mapped

  // A drive this process holds open is read through that open drive.
  std::string error;
  auto held = OpenEmulatedDevice(d.spec(), &error);
  ASSERT_NE(held, nullptr) << error;
  EXPECT_EQ(VolumeLabel('D', map), "MY DISC");
}

TEST(VolumeLabelTest, MissingDeviceNodeGivesNoLabel) {
  const DriveMap map = DriveMap::Parse("D:=/dev/sr-does-not-exist;E:=/dev/sg-does-not-exist", ';');
  EXPECT_EQ(VolumeLabel('D', map), "");
  EXPECT_EQ(VolumeLabel('E', map), "");
}

}  // namespace
}  // namespace sorvel::platform
