// The library's exports as a caller sees them: loaded with dlopen, records
// checked byte for byte.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <fstream>
#include <sys/stat.h>
#include <fcntl.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

std::string LibraryPath() { return testing::BuiltLibraryPath("libtazol.so"); }

class Tazol {
 public:
  Tazol() {
    lib_ = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib_ == nullptr) ADD_FAILURE() << dlerror();
  }
  ~Tazol() {
    if (lib_ != nullptr) dlclose(lib_);
  }
  template <typename F>
  F* Get(const char* name) {
    void* f = lib_ ? dlsym(lib_, name) : nullptr;
    if (f == nullptr) ADD_FAILURE() << "missing export " << name;
    return reinterpret_cast<F*>(f);
  }
  bool loaded() const { return lib_ != nullptr; }

 private:
  void* lib_ = nullptr;
};

int32_t Le32(const uint8_t* p) {
  return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

struct Api {
  explicit Api(Tazol& t)
      : version(t.Get<int32_t()>("GetEngineVersion")),
        initialize(t.Get<intptr_t()>("Initialize")),
        terminate(t.Get<int32_t(intptr_t)>("Terminate")),
        init_fs(t.Get<int32_t(intptr_t, int32_t)>("InitISOFS")),
        clear(t.Get<int32_t(intptr_t)>("ClearISO")),
        is_empty(t.Get<int32_t(intptr_t)>("IsISOEmpty")),
        add_file(t.Get<int32_t(intptr_t, const char*, const char*)>("AddISOFile")),
        add_dummy(t.Get<int32_t(intptr_t, const char*, int32_t, int32_t, int32_t)>("AddISODummyFile")),
        make_dir(t.Get<int32_t(intptr_t, const char*, int32_t, int32_t)>("MakeISODirectory")),
        new_name(t.Get<int32_t(intptr_t, char*, int32_t)>("GetISONewFileDirectoryName")),
        change_dir(t.Get<int32_t(intptr_t, const char*)>("ChangeISODirectory")),
        remove(t.Get<int32_t(intptr_t, const char*)>("RemoveISOFile")),
        rename(t.Get<int32_t(intptr_t, const char*, const char*)>("RenameISOFile")),
        properties(t.Get<int32_t(intptr_t, const char*, int32_t, int32_t)>("ChangeISOProperties")),
        current(t.Get<int32_t(intptr_t, char*, int32_t)>("GetISOCurrentDirectory")),
        find_first(t.Get<int32_t(intptr_t, void*)>("FindISOFirstFile")),
        find_next(t.Get<int32_t(intptr_t, void*)>("FindISONextFile")) {}
  int32_t (*version)();
  intptr_t (*initialize)();
  int32_t (*terminate)(intptr_t);
  int32_t (*init_fs)(intptr_t, int32_t);
  int32_t (*clear)(intptr_t);
  int32_t (*is_empty)(intptr_t);
  int32_t (*add_file)(intptr_t, const char*, const char*);
  int32_t (*add_dummy)(intptr_t, const char*, int32_t, int32_t, int32_t);
  int32_t (*make_dir)(intptr_t, const char*, int32_t, int32_t);
  int32_t (*new_name)(intptr_t, char*, int32_t);
  int32_t (*change_dir)(intptr_t, const char*);
  int32_t (*remove)(intptr_t, const char*);
  int32_t (*rename)(intptr_t, const char*, const char*);
  int32_t (*properties)(intptr_t, const char*, int32_t, int32_t);
  int32_t (*current)(intptr_t, char*, int32_t);
  int32_t (*find_first)(intptr_t, void*);
  int32_t (*find_next)(intptr_t, void*);
};

TEST(TazolExports, EngineLifecycleAndTreeCalls) {
  Tazol lib;
  ASSERT_TRUE(lib.loaded());
  Api api(lib);
  EXPECT_EQ(api.version(), 10404);
  EXPECT_EQ(api.terminate(0), 0);  // null is ignored
  intptr_t h = api.initialize();
  ASSERT_NE(h, 0);
  EXPECT_EQ(api.is_empty(h), 1);
  EXPECT_EQ(api.make_dir(h, "Data", 0x10010, 1000), 1);  // attributes are 16-bit
  EXPECT_EQ(api.is_empty(h), 0);
  EXPECT_EQ(api.init_fs(h, 5), 0);
  EXPECT_EQ(api.is_empty(h), 0);  // refused: tree kept
  EXPECT_EQ(api.init_fs(h, 16), 1);
  EXPECT_EQ(api.is_empty(h), 1);
  EXPECT_EQ(api.make_dir(h, "Data Files", 0x10010, 1000), 1);

  // Bounded copies: a string that fills the buffer is not terminated; a shorter one is zero-padded.
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  api.new_name(h, buf, 4);
  EXPECT_EQ(std::string(buf, 5), "Datax");
  std::memset(buf, 'x', sizeof buf);
  api.new_name(h, buf, 14);
  EXPECT_EQ(std::string(buf, 16), std::string("Data Files\0\0\0\0xx", 16));
  api.new_name(h, nullptr, 10);
  api.new_name(h, buf, 0);

  EXPECT_EQ(api.change_dir(h, "\\data files"), 1);
  std::memset(buf, 'x', sizeof buf);
  api.current(h, buf, sizeof buf);
  EXPECT_STREQ(buf, "\\Data Files\\");
  EXPECT_EQ(api.add_dummy(h, "名前.txt", 2, -1, -5), 1);
  EXPECT_EQ(api.add_dummy(h, nullptr, 0, 0, 0), 0);
  EXPECT_EQ(api.add_file(h, "x", nullptr), 0);
  EXPECT_EQ(api.add_file(h, "x", "/nonexistent/file"), 0);
  EXPECT_EQ(api.properties(h, "名前.TXT", 0x20002, 77), 1);
  EXPECT_EQ(api.rename(h, "名前.txt", "新.txt"), 1);

  uint8_t record[2064];
  std::memset(record, 0xAA, sizeof record);
  ASSERT_EQ(api.find_first(h, record), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(record), ".");
  EXPECT_STREQ(reinterpret_cast<char*>(record + 1024), "Data Files");
  EXPECT_EQ(record[1023], 0);  // zeroed first
  EXPECT_EQ(Le32(record + 2048), 0x10);
  EXPECT_EQ(Le32(record + 2052), 0);
  EXPECT_EQ(Le32(record + 2056), 1000);
  EXPECT_EQ(Le32(record + 2060), 1);
  ASSERT_EQ(api.find_next(h, record), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(record), "..");
  EXPECT_STREQ(reinterpret_cast<char*>(record + 1024), "");
  ASSERT_EQ(api.find_next(h, record), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(record), "新.txt");
  EXPECT_EQ(Le32(record + 2048), 2);
  EXPECT_EQ(Le32(record + 2052), -1);  // 4 GiB - 1 as an unsigned size
  EXPECT_EQ(Le32(record + 2056), 77);
  EXPECT_EQ(Le32(record + 2060), 0);
  uint8_t copy[2064];
  std::memcpy(copy, record, sizeof record);
  EXPECT_EQ(api.find_next(h, record), 0);
  EXPECT_EQ(std::memcmp(copy, record, sizeof record), 0);
  EXPECT_EQ(api.find_first(h, nullptr), 0);

  EXPECT_EQ(api.change_dir(h, "\\"), 1);
  EXPECT_EQ(api.remove(h, "data files"), 0);
  EXPECT_EQ(api.remove(h, "Data Files"), 1);
  EXPECT_EQ(api.clear(h), 0);
  EXPECT_EQ(api.is_empty(h), 1);
  api.terminate(h);
}

// The find record's 32-bit time of a host file stamped beyond its range is
// the range's nearest end, not the low 32 bits of the stamp.
TEST(TazolExports, FindRecordTimesStopAtThe32BitRange) {
  Tazol lib;
  ASSERT_TRUE(lib.loaded());
  Api api(lib);
  testing::ScratchDir dir;
  const intptr_t h = api.initialize();
  ASSERT_NE(h, 0);
  ASSERT_EQ(api.init_fs(h, 16), 1);
  const std::pair<int64_t, int32_t> stamps[] = {
      {4102444800, INT32_MAX}, {-2208988800, INT32_MIN}, {-157766400, -157766400}, {2147483647, 2147483647}};
  for (const auto& [stamp, reported] : stamps) {
    const std::string path = (dir / "f").string();
    { std::ofstream(path) << "x"; }
    const timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    api.clear(h);
    ASSERT_EQ(api.add_file(h, "f", path.c_str()), 1);
    uint8_t record[2064];
    ASSERT_EQ(api.find_first(h, record), 1);
    ASSERT_EQ(api.find_next(h, record), 1);
    ASSERT_EQ(api.find_next(h, record), 1);
    EXPECT_STREQ(reinterpret_cast<char*>(record), "f");
    EXPECT_EQ(static_cast<int32_t>(Le32(record + 2056)), reported) << stamp;
  }
  api.terminate(h);
}

// A handle that names no engine (null, made up, or terminated already) is
// refused by every export instead of being followed.
void ExpectRefusedEverywhere(Tazol& lib, Api& api, intptr_t h) {
  char text[8] = "x";
  uint8_t record[2064] = {};
  uint8_t sector[2352] = {};
  EXPECT_EQ(api.init_fs(h, 4), 0);
  EXPECT_EQ(api.clear(h), 0);
  EXPECT_EQ(api.is_empty(h), 0);
  EXPECT_EQ(api.add_file(h, "a", "/etc/hostname"), 0);
  EXPECT_EQ(api.add_dummy(h, "a", 0, 1, 0), 0);
  EXPECT_EQ(api.make_dir(h, "a", 0, 0), 0);
  api.new_name(h, text, sizeof text);
  EXPECT_EQ(api.change_dir(h, "\\"), 0);
  EXPECT_EQ(api.remove(h, "a"), 0);
  EXPECT_EQ(api.rename(h, "a", "b"), 0);
  EXPECT_EQ(api.properties(h, "a", 0, 0), 0);
  api.current(h, text, sizeof text);
  EXPECT_EQ(api.find_first(h, record), 0);
  EXPECT_EQ(api.find_next(h, record), 0);
  EXPECT_EQ(lib.Get<int32_t(intptr_t, int32_t, void*, int32_t)>("GetTOCStructure")(h, 0, record, 100), 0);
  lib.Get<int32_t(intptr_t)>("ClearTrack")(h);
  EXPECT_EQ(lib.Get<int32_t(intptr_t, const char*, int32_t, int32_t, int32_t)>("AddTrack")(h, "a.wav", 0, 0, 0), 0);
  EXPECT_EQ(lib.Get<int32_t(intptr_t, int32_t, const char*, int32_t, int32_t, int32_t)>("ResetTrack")(h, 0, "a", 0, 0, 0),
            0);
  EXPECT_EQ(lib.Get<int32_t(intptr_t, int32_t)>("RemoveTrack")(h, 0), 0);
  EXPECT_EQ(lib.Get<int32_t(intptr_t)>("GetTrackCount")(h), 0);
  lib.Get<int32_t(intptr_t, int32_t, void*)>("GetTrackInformation")(h, 0, record);
  EXPECT_EQ(lib.Get<int32_t(intptr_t, const char*)>("ReadStart")(h, "LABEL"), 0);
  EXPECT_EQ(lib.Get<int32_t(intptr_t, uint8_t*, int32_t)>("Read")(h, sector, 1), 0);
  lib.Get<int32_t(intptr_t)>("ReadEnd")(h);
  EXPECT_EQ(lib.Get<int32_t(intptr_t, int32_t)>("EnabledTrackText")(h, 1), 0);
  lib.Get<int32_t(intptr_t, int32_t, int32_t, int32_t, const char*)>("SetTrackText")(h, 0, 0, 0, "t");
  lib.Get<int32_t(intptr_t, int32_t, int32_t, int32_t, char*, int32_t)>("GetTrackText")(h, 0, 0, 0, text,
                                                                                         sizeof text);
  EXPECT_EQ(api.terminate(h), 0);
  EXPECT_STREQ(text, "x");
}

TEST(TazolExports, HandlesThatNameNoEngineAreRefused) {
  Tazol lib;
  ASSERT_TRUE(lib.loaded());
  Api api(lib);
  ExpectRefusedEverywhere(lib, api, 0);
  // Made up: the address of something that is no engine.
  int not_an_engine[64] = {};
  ExpectRefusedEverywhere(lib, api, reinterpret_cast<intptr_t>(not_an_engine));
  ExpectRefusedEverywhere(lib, api, static_cast<intptr_t>(0x5EEDF00D));
  // Terminated, twice: the second Terminate and every later call touch nothing.
  const intptr_t engine = api.initialize();
  ASSERT_NE(engine, 0);
  EXPECT_EQ(api.init_fs(engine, 4), 1);
  EXPECT_EQ(api.terminate(engine), 0);
  ExpectRefusedEverywhere(lib, api, engine);
  // A live engine is untouched by all of that.
  const intptr_t live = api.initialize();
  ASSERT_NE(live, 0);
  ExpectRefusedEverywhere(lib, api, live + 8);
  EXPECT_EQ(api.init_fs(live, 4), 1);
  EXPECT_EQ(api.is_empty(live), 1);
  EXPECT_EQ(api.terminate(live), 0);
}

}  // namespace
}  // namespace sorvel
