// The library as its callers see it: loaded with dlopen and driven through its
// exports only; the disc it streams is judged by independent CD and ISO tools.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "mastering_engine/wave_test_files.h"
#include "platform/text_encoding.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::Pcm;

const char* const kExportNames[] = {
    "GetEngineVersion", "Initialize",       "Terminate",          "GetTOCStructure",
    "InitISOFS",        "ClearISO",         "IsISOEmpty",         "AddISOFile",
    "AddISODummyFile",  "MakeISODirectory", "GetISONewFileDirectoryName",
    "ChangeISODirectory", "RemoveISOFile",  "RenameISOFile",      "ChangeISOProperties",
    "GetISOCurrentDirectory", "FindISOFirstFile", "FindISONextFile", "ClearTrack",
    "AddTrack",         "ResetTrack",       "RemoveTrack",        "GetTrackCount",
    "GetTrackInformation", "ReadStart",     "Read",               "ReadEnd",
    "EnabledTrackText", "SetTrackText",     "GetTrackText",
};

std::string LibraryPath() { return testing::BuiltLibraryPath("libtazol.so"); }

// The exports this test calls, bound by name like the program's binding does.
struct Tazol {
  void* lib = nullptr;
  int32_t (*GetEngineVersion)() = nullptr;
  intptr_t (*Initialize)() = nullptr;
  int32_t (*Terminate)(intptr_t) = nullptr;
  int32_t (*GetTOCStructure)(intptr_t, int32_t, void*, int32_t) = nullptr;
  int32_t (*InitISOFS)(intptr_t, int32_t) = nullptr;
  int32_t (*AddISOFile)(intptr_t, const char*, const char*) = nullptr;
  int32_t (*MakeISODirectory)(intptr_t, const char*, int32_t, int32_t) = nullptr;
  int32_t (*ChangeISODirectory)(intptr_t, const char*) = nullptr;
  int32_t (*AddTrack)(intptr_t, const char*, int32_t, int32_t, int32_t) = nullptr;
  int32_t (*GetTrackCount)(intptr_t) = nullptr;
  int32_t (*GetTrackInformation)(intptr_t, int32_t, void*) = nullptr;
  int32_t (*RemoveTrack)(intptr_t, int32_t) = nullptr;
  int32_t (*ReadStart)(intptr_t, const char*) = nullptr;
  int32_t (*Read)(intptr_t, uint8_t*, int32_t) = nullptr;
  int32_t (*ReadEnd)(intptr_t) = nullptr;
  int32_t (*EnabledTrackText)(intptr_t, int32_t) = nullptr;
  int32_t (*SetTrackText)(intptr_t, int32_t, int32_t, int32_t, const char*) = nullptr;
  int32_t (*GetTrackText)(intptr_t, int32_t, int32_t, int32_t, char*, int32_t) = nullptr;

  template <typename F>
  void Bind(F*& f, const char* name) {
    f = reinterpret_cast<F*>(dlsym(lib, name));
    ASSERT_NE(f, nullptr) << name;
  }
  void Load() {
    lib = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char* name : kExportNames) ASSERT_NE(dlsym(lib, name), nullptr) << name;
    Bind(GetEngineVersion, "GetEngineVersion");
    Bind(Initialize, "Initialize");
    Bind(Terminate, "Terminate");
    Bind(GetTOCStructure, "GetTOCStructure");
    Bind(InitISOFS, "InitISOFS");
    Bind(AddISOFile, "AddISOFile");
    Bind(MakeISODirectory, "MakeISODirectory");
    Bind(ChangeISODirectory, "ChangeISODirectory");
    Bind(AddTrack, "AddTrack");
    Bind(GetTrackCount, "GetTrackCount");
    Bind(GetTrackInformation, "GetTrackInformation");
    Bind(RemoveTrack, "RemoveTrack");
    Bind(ReadStart, "ReadStart");
    Bind(Read, "Read");
    Bind(ReadEnd, "ReadEnd");
    Bind(EnabledTrackText, "EnabledTrackText");
    Bind(SetTrackText, "SetTrackText");
    Bind(GetTrackText, "GetTrackText");
  }
  ~Tazol() {
    if (lib) dlclose(lib);
  }
};

int32_t Le32(const uint8_t* p) { return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24); }

struct Entry {
  int track, index, flags, mode;
  int32_t start, end;
};

std::vector<Entry> TocEntries(Tazol& t, intptr_t h) {
  std::vector<uint8_t> part(3330);
  int32_t n = t.GetTOCStructure(h, 0, part.data(), static_cast<int32_t>(part.size()));
  std::vector<Entry> out;
  if (n < 2) return out;
  int count = part[0] | part[1] << 8;
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = part.data() + 2 + 13 * i;
    EXPECT_EQ(e[0], 1);
    out.push_back({e[1], e[2], e[3], e[4], Le32(e + 5), Le32(e + 9)});
  }
  return out;
}

// ---- independent checks of a CD-ROM Mode 1 sector (ECMA-130) ----

uint32_t Edc(const uint8_t* p, size_t n) {
  uint32_t edc = 0;
  for (size_t i = 0; i < n; ++i) {
    edc ^= p[i];
    for (int b = 0; b < 8; ++b) edc = (edc >> 1) ^ ((edc & 1) ? 0xD8018001u : 0);
  }
  return edc;
}

struct Gf256 {
  std::array<uint8_t, 512> exp{};
  std::array<int, 256> log{};
  Gf256() {
    int x = 1;
    for (int i = 0; i < 255; ++i) {
      exp[static_cast<size_t>(i)] = exp[static_cast<size_t>(i) + 255] = static_cast<uint8_t>(x);
      log[static_cast<size_t>(x)] = i;
      x <<= 1;
      if (x & 0x100) x ^= 0x11D;
    }
  }
  uint8_t MulAlphaPow(uint8_t v, int power) const {
    return v == 0 ? 0 : exp[static_cast<size_t>((log[v] + power) % 255)];
  }
  // True when c(x) = sum v_k x^(n-1-k) has the roots 1 and alpha.
  bool Codeword(const std::vector<uint8_t>& v) const {
    uint8_t s0 = 0, s1 = 0;
    int n = static_cast<int>(v.size());
    for (int k = 0; k < n; ++k) {
      s0 ^= v[static_cast<size_t>(k)];
      s1 ^= MulAlphaPow(v[static_cast<size_t>(k)], n - 1 - k);
    }
    return s0 == 0 && s1 == 0;
  }
};

uint8_t Bcd(int v) { return static_cast<uint8_t>((v / 10) << 4 | v % 10); }

// Sync, header, EDC, zero bytes and every P and Q codeword of a Mode 1 sector.
::testing::AssertionResult ValidMode1(const uint8_t* s, int32_t lba) {
  static const Gf256 gf;
  static const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  if (std::memcmp(s, sync, 12) != 0) return ::testing::AssertionFailure() << "sync at " << lba;
  int x = lba + 150;
  if (s[12] != Bcd(x / 4500) || s[13] != Bcd(x / 75 % 60) || s[14] != Bcd(x % 75) || s[15] != 1)
    return ::testing::AssertionFailure() << "header at " << lba;
  uint32_t edc = Edc(s, 2064);
  if (static_cast<uint32_t>(Le32(s + 2064)) != edc) return ::testing::AssertionFailure() << "EDC at " << lba;
  for (int i = 2068; i < 2076; ++i)
    if (s[i] != 0) return ::testing::AssertionFailure() << "zero area at " << lba;
  for (int c = 0; c < 86; ++c) {
    std::vector<uint8_t> v;
    for (int k = 0; k < 26; ++k) v.push_back(s[12 + c + 86 * k]);
    if (!gf.Codeword(v)) return ::testing::AssertionFailure() << "P column " << c << " at " << lba;
  }
  for (int d = 0; d < 52; ++d) {
    std::vector<uint8_t> v;
    for (int k = 0; k < 43; ++k) v.push_back(s[12 + ((d >> 1) * 86 + (d & 1) + 88 * k) % 2236]);
    v.push_back(s[2248 + d]);
    v.push_back(s[2248 + 52 + d]);
    if (!gf.Codeword(v)) return ::testing::AssertionFailure() << "Q diagonal " << d << " at " << lba;
  }
  return ::testing::AssertionSuccess();
}

std::string Msf(int32_t lba) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", lba / 4500, lba / 75 % 60, lba % 75);
  return text;
}

std::string RunTool(const std::string& command) {
  std::string out;
  int status = testing::RunCommand(command + " 2>&1", &out);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  return out;
}

TEST(TazolLibrary, ExportsExactlyTheThirtyNames) {
  if (!testing::RequireTool("nm")) return;
  std::string out = RunTool("nm -D --defined-only " + LibraryPath());
  std::set<std::string> names;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.insert(name);
  }
  EXPECT_EQ(names, std::set<std::string>(std::begin(kExportNames), std::end(kExportNames)));
}

TEST(TazolLibrary, TocPartsTrackRecordsAndTextsThroughTheExports) {
  Tazol t;
  t.Load();
  if (::testing::Test::HasFatalFailure()) return;
  EXPECT_EQ(t.GetEngineVersion(), 10404);
  intptr_t h = t.Initialize();
  ASSERT_NE(h, 0);
  testing::ScratchDir dir;
  uint8_t buffer[64];
  EXPECT_EQ(t.GetTOCStructure(h, 0, buffer, 3), 0);  // no entries yet
  std::memset(buffer, 0x77, sizeof buffer);
  EXPECT_EQ(t.GetTOCStructure(h, 2, buffer, 20), 13);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 13), std::string(13, '\0'));
  EXPECT_EQ(t.GetTOCStructure(h, 5, buffer, 20), 0);
  EXPECT_EQ(t.GetTrackCount(h), 0);

  testing::WriteFile(dir / "a.txt", "hello");
  ASSERT_EQ(t.AddISOFile(h, "a.txt", (dir / "a.txt").c_str()), 1);
  EXPECT_EQ(t.GetTrackCount(h), 1);
  std::string wav = (dir / "a.wav").string();
  testing::WriteFile(wav, testing::CdWave(Pcm(2352 * 10)));
  ASSERT_EQ(t.AddTrack(h, wav.c_str(), 0, 3, 2), 1);
  EXPECT_EQ(t.GetTrackCount(h), 2);

  uint8_t record[1040];
  std::memset(record, 0x5A, sizeof record);
  t.GetTrackInformation(h, 1, record);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record)), wav);
  EXPECT_EQ(record[wav.size() + 1], 0);
  EXPECT_EQ(Le32(record + 1024), 0);
  EXPECT_EQ(Le32(record + 1028), 3);
  EXPECT_EQ(Le32(record + 1032), 2);
  EXPECT_EQ(Le32(record + 1036), 300);
  std::memset(record, 0x5A, sizeof record);
  t.GetTrackInformation(h, 2, record);  // outside the layout: untouched
  EXPECT_EQ(record[0], 0x5A);
  EXPECT_EQ(record[1039], 0x5A);

  t.SetTrackText(h, 0, 0, 0, "Title");
  char text[8];
  std::memset(text, 0x5A, sizeof text);
  t.GetTrackText(h, 0, 0, 0, text, 5);  // fills the buffer: not terminated
  EXPECT_EQ(std::string(text, 6), "Title\x5A");
  t.GetTrackText(h, 0, 0, 0, text, 8);
  EXPECT_EQ(std::string(text, 8), std::string("Title\0\0\0", 8));
  EXPECT_EQ(t.EnabledTrackText(h, 7), 1);

  ::testing::internal::CaptureStdout();
  int32_t total = t.ReadStart(h, "T");
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(total, 300 + 303);
  EXPECT_NE(out.find("==== TOC Information ====\n01 01 01 04 01      0    299\n01 02 01 02 00    300    602\n"),
            std::string::npos)
      << out;
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(t.GetTOCStructure(h, 0, buffer, 3), 3);  // the count and the first byte of entry 1
  EXPECT_EQ(buffer[0], 2);
  EXPECT_EQ(buffer[2], 1);
  EXPECT_EQ(t.GetTOCStructure(h, 4, buffer, 3), 0);
  EXPECT_EQ(t.GetTOCStructure(h, 4, buffer, 4), 4);
  t.ReadEnd(h);
  t.Terminate(h);
  t.Terminate(0);
}

// The data track counts among the 99 tracks of a disc, whichever is added last.
TEST(TazolLibrary, DataAreaAndAudioTracksShareNinetyNineTracks) {
  Tazol t;
  t.Load();
  if (::testing::Test::HasFatalFailure()) return;
  testing::ScratchDir dir;
  std::string wav = (dir / "a.wav").string();
  testing::WriteFile(wav, testing::CdWave(Pcm(64)));
  testing::WriteFile(dir / "f.txt", "x");
  intptr_t h = t.Initialize();
  ASSERT_NE(h, 0);
  for (int i = 0; i < 99; ++i) ASSERT_EQ(t.AddTrack(h, wav.c_str(), 0, 0, 0), 1) << i;
  EXPECT_EQ(t.AddISOFile(h, "f.txt", (dir / "f.txt").c_str()), 0);
  ASSERT_EQ(t.RemoveTrack(h, 98), 1);
  ASSERT_EQ(t.AddISOFile(h, "f.txt", (dir / "f.txt").c_str()), 1);
  EXPECT_EQ(t.GetTrackCount(h), 99);
  EXPECT_EQ(t.AddTrack(h, wav.c_str(), 0, 0, 0), 0);
  t.Terminate(h);
}

// A mixed disc: a data area (with a subdirectory) and two WAV tracks with pregaps
// and CD-Text, streamed raw into an image with a CUE sheet.
TEST(DiscImage, MixedDiscIsReadByIndependentTools) {
  for (const char* tool : {"cdrdao", "cd-info", "bchunk", "isoinfo", "cdrskin"}) {
    if (!testing::RequireTool(tool)) return;
  }
  Tazol t;
  t.Load();
  if (::testing::Test::HasFatalFailure()) return;
  testing::ScratchDir dir;
  std::string readme(3000, '\0'), big = Pcm(70001, 7);
  for (size_t i = 0; i < readme.size(); ++i) readme[i] = static_cast<char>('a' + i % 26);
  testing::WriteFile(dir / "readme.txt", readme);
  testing::WriteFile(dir / "big.bin", big);
  std::string pcm1 = Pcm(2352 * 310 + 1000, 1), pcm2 = Pcm(2352 * 305, 2);
  testing::WriteFile(dir / "one.wav", testing::Riff(testing::FmtChunk(18) + testing::Chunk("LIST", "INFOx") +
                                                   testing::Chunk("data", pcm1)));
  testing::WriteFile(dir / "two.wav", testing::CdWave(pcm2));

  intptr_t h = t.Initialize();
  ASSERT_NE(h, 0);
  ASSERT_EQ(t.InitISOFS(h, 16), 1);
  ASSERT_EQ(t.AddISOFile(h, "readme.txt", (dir / "readme.txt").c_str()), 1);
  ASSERT_EQ(t.MakeISODirectory(h, "sub", 0, 1700000000), 1);
  ASSERT_EQ(t.ChangeISODirectory(h, "sub"), 1);
  ASSERT_EQ(t.AddISOFile(h, "big.bin", (dir / "big.bin").c_str()), 1);
  ASSERT_EQ(t.ChangeISODirectory(h, "\\"), 1);
  ASSERT_EQ(t.AddTrack(h, (dir / "one.wav").c_str(), 150, 0, 0), 1);
  ASSERT_EQ(t.AddTrack(h, (dir / "two.wav").c_str(), 75, 10, 2), 1);
  ASSERT_EQ(t.GetTrackCount(h), 3);
  t.EnabledTrackText(h, 1);
  t.SetTrackText(h, 0, 0, 0, "Mixed Album");
  t.SetTrackText(h, 0, 0, 1, "The Band");
  t.SetTrackText(h, 1, 0, 0, "Data Files");
  t.SetTrackText(h, 2, 0, 0, "First Song");
  t.SetTrackText(h, 3, 0, 0, "Second Song");
  t.SetTrackText(h, 0, 1, 0, "混合盤");

  // The disc streamed raw, and its data track streamed again, not raw: the ISO
  // image. Each layout stamps the time it was made into the descriptors, so the
  // two are made again (a few times at most) when a second ticked between them.
  int32_t total = 0;
  std::vector<Entry> toc;
  std::vector<uint8_t> image;
  std::string iso;
  for (int attempt = 0; attempt < 3; ++attempt) {
    ::testing::internal::CaptureStdout();
    total = t.ReadStart(h, "MIXED");
    toc = TocEntries(t, h);
    ASSERT_FALSE(toc.empty());
    iso.clear();
    std::vector<uint8_t> sector(2352);
    for (int32_t i = 0; i <= toc[0].end; ++i) {
      ASSERT_EQ(t.Read(h, sector.data(), 0), 1);
      EXPECT_TRUE(std::all_of(sector.begin() + 2048, sector.end(), [](uint8_t b) { return b == 0; }));
      iso.append(reinterpret_cast<char*>(sector.data()), 2048);
    }
    t.ReadEnd(h);
    ASSERT_EQ(t.ReadStart(h, "MIXED"), total);
    image.assign(static_cast<size_t>(total) * 2352, 0);
    int failures = 0;
    for (int32_t i = 0; i < total; ++i) failures += t.Read(h, image.data() + static_cast<size_t>(i) * 2352, 1) ? 0 : 1;
    uint8_t extra[2352];
    int32_t past_end = t.Read(h, extra, 1);
    t.ReadEnd(h);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(past_end, 0);
    bool same = true;
    for (size_t i = 0; same && i * 2048 < iso.size(); ++i) {
      same = std::memcmp(iso.data() + i * 2048, image.data() + i * 2352 + 16, 2048) == 0;
    }
    if (same) break;
  }

  // The layout we intend: data track 1, then each audio track after its own pregap.
  ASSERT_EQ(toc.size(), 5u);
  const int32_t data_length = toc[0].end + 1;
  EXPECT_GE(data_length, 300);
  EXPECT_EQ(toc[0].track, 1);
  EXPECT_EQ(toc[0].flags, 4);
  EXPECT_EQ(toc[0].mode, 1);
  EXPECT_EQ(toc[0].start, 0);
  const int32_t t2 = data_length + 150, t3 = t2 + 311 + 75;
  EXPECT_EQ(toc[1].start, data_length);
  EXPECT_EQ(toc[1].index, 0);
  EXPECT_EQ(toc[2].start, t2);
  EXPECT_EQ(toc[2].end, t2 + 310);
  EXPECT_EQ(toc[3].start, t2 + 311);
  EXPECT_EQ(toc[4].start, t3);
  EXPECT_EQ(toc[4].flags, 2);
  EXPECT_EQ(toc[4].end, t3 + 305 + 10 - 1);
  EXPECT_EQ(total, t3 + 315);

  // Every data sector is a valid Mode 1 sector; audio sectors carry PCM untouched.
  for (int32_t lba = 0; lba < data_length; ++lba) {
    ::testing::AssertionResult valid = ValidMode1(image.data() + static_cast<size_t>(lba) * 2352, lba);
    if (!valid) {
      ADD_FAILURE() << valid.message();
      break;
    }
  }

  // CD-Text part: every pack's CRC, and cdrskin reads back the texts.
  std::vector<uint8_t> part4(9218);
  int32_t part4_size = t.GetTOCStructure(h, 4, part4.data(), static_cast<int32_t>(part4.size()));
  ASSERT_GT(part4_size, 2);
  int packs = part4[0] | part4[1] << 8;
  ASSERT_EQ(part4_size, 2 + packs * 18);
  for (int i = 0; i < packs; ++i) {
    const uint8_t* p = part4.data() + 2 + 18 * i;
    uint32_t crc = 0;
    for (int k = 0; k < 16; ++k)
      for (int bit = 7; bit >= 0; --bit) {
        uint32_t top = ((crc >> 15) ^ (p[k] >> bit)) & 1;
        crc = ((crc << 1) & 0xFFFF) ^ (top ? 0x1021 : 0);
      }
    crc ^= 0xFFFF;
    EXPECT_EQ(p[16] << 8 | p[17], static_cast<int>(crc)) << "pack " << i;
  }
  std::string cdt;
  cdt.push_back(static_cast<char>((part4_size) >> 8));
  cdt.push_back(static_cast<char>(part4_size));
  cdt.append(2, '\0');
  cdt.append(reinterpret_cast<char*>(part4.data()) + 2, static_cast<size_t>(part4_size - 2));
  testing::WriteFile(dir / "disc.cdt", cdt);
  std::string sheet = RunTool("cdrskin textfile_to_v07t=" + (dir / "disc.cdt").string());
  for (const std::string& line : std::vector<std::string>{std::string("Album Title         = Mixed Album"), std::string("Artist Name         = The Band"),
        std::string("Track 01 Title      = Data Files"), std::string("Track 02 Title      = First Song"),
        std::string("Track 03 Title      = Second Song"), std::string("Last Track Number   = 3"),
        std::string("Album Title         = ") + platform::Utf8ToCp932("混合盤"),
        std::string("Text Code           = MS-JIS")}) {
    EXPECT_NE(sheet.find(line), std::string::npos) << line << "\n" << sheet;
  }

  // The image and a CUE sheet for it.
  testing::WriteFile(dir / "disc.bin", std::string(image.begin(), image.end()));
  std::ostringstream cue;
  cue << "FILE \"disc.bin\" BINARY\r\n";
  for (const Entry& e : toc) {
    if (e.index == 1 || e.index == 0) {
      bool first_entry_of_track = &e == &toc.front() || (&e)[-1].track != e.track;
      if (first_entry_of_track) {
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02d %s\r\n", e.track, e.mode == 1 ? "MODE1/2352" : "AUDIO");
        cue << line;
        if (e.flags & 2) cue << "    FLAGS DCP\r\n";
      }
      cue << "    INDEX 0" << e.index << " " << Msf(e.start) << "\r\n";
    }
  }
  testing::WriteFile(dir / "disc.cue", cue.str());

  std::string toc_text = RunTool("cd " + dir.path().string() + " && cdrdao show-toc disc.cue");
  for (const std::string& expected : std::vector<std::string>{std::string("TRACK  1  Mode MODE1_RAW:"), "START  00:00:00(     0)",
        "END    " + Msf(data_length) + "(" + std::string(6 - std::to_string(data_length).size(), ' ') +
            std::to_string(data_length) + ")",
        std::string("TRACK  2  Mode AUDIO:"), std::string("PREGAP 00:02:00(   150)"),
        std::string("TRACK  3  Mode AUDIO:"), std::string("PREGAP 00:01:00(    75)"),
        std::string("COPY PERMITTED")}) {
    EXPECT_NE(toc_text.find(expected), std::string::npos) << expected << "\n" << toc_text;
  }
  RunTool("cd " + dir.path().string() + " && cdrdao read-test disc.cue");

  std::string info = RunTool("cd " + dir.path().string() + " && cd-info --no-device-info --cue-file disc.cue");
  auto lsn = [](int32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%06d", static_cast<int>(v));
    return std::string(text);
  };
  for (const std::string& expected : std::vector<std::string>{"  1: 00:02:00  000000 data", "  2: " + Msf(t2 + 150) + "  " + lsn(t2) + " audio",
        "  3: " + Msf(t3 + 150) + "  " + lsn(t3) + " audio", "170: " + Msf(total + 150) + "  " + lsn(total) + " leadout",
        std::string("ISO 9660"), std::string("MIXED")}) {
    EXPECT_NE(info.find(expected), std::string::npos) << expected << "\n" << info;
  }

  // bchunk splits the image: the ISO equals the non-raw stream, the WAV files
  // hold the sources' PCM followed by zeros up to the track's end.
  RunTool("cd " + dir.path().string() + " && bchunk -w disc.bin disc.cue out");
  std::string out_iso = testing::ReadFile(dir / "out01.iso");
  EXPECT_TRUE(out_iso == iso) << out_iso.size() << " bytes from bchunk, " << iso.size() << " streamed";
  std::string wav1 = testing::ReadFile(dir / "out02.wav"), wav2 = testing::ReadFile(dir / "out03.wav");
  ASSERT_GT(wav1.size(), 44u);
  ASSERT_GT(wav2.size(), 44u);
  EXPECT_TRUE(wav1.substr(44) == pcm1 + std::string(2352 * 311 - pcm1.size(), '\0')) << wav1.size();
  EXPECT_TRUE(wav2.substr(44) == pcm2 + std::string(2352 * 10, '\0')) << wav2.size();

  // The extracted ISO is a file system isoinfo reads, with our files in it.
  std::string pvd = RunTool("isoinfo -d -i " + (dir / "out01.iso").string());
  EXPECT_NE(pvd.find("Volume id: MIXED"), std::string::npos) << pvd;
  EXPECT_NE(pvd.find("Volume size is: " + std::to_string(data_length)), std::string::npos) << pvd;
  std::string got;
  testing::RunCommand("isoinfo -J -i " + (dir / "out01.iso").string() + " -x '/sub/big.bin;1'", &got);
  EXPECT_TRUE(got == big) << got.size() << "\n" << RunTool("isoinfo -J -l -i " + (dir / "out01.iso").string());
  got.clear();
  testing::RunCommand("isoinfo -J -i " + (dir / "out01.iso").string() + " -x '/readme.txt;1'", &got);
  EXPECT_TRUE(got == readme) << got.size();
  t.Terminate(h);
}

}  // namespace
}  // namespace sorvel
