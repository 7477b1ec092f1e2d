// Mastering a host tree through the exports of libtazol.so, as the GUI does,
// against genisoimage -J -r on the same tree in the same run: 100,000 files of
// random sizes up to 8 KiB in 10,000 directories, the whole Joliet image
// written to a file.
// Goals: no more than half of genisoimage's time (ratio <= 0.5), and the tree
// plus the layout (every AddISOFile up to ReadStart) under 1.5 seconds. Both
// times are printed, and the system time of each: a host file costs one status
// query when it is added and one open (checked on its descriptor) when it is read.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTopDirectories = 100;
constexpr int kDirectoriesEach = 100;
constexpr int kFilesEach = 10;
constexpr int kJoliet = 16;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// System time used so far by this process (RUSAGE_SELF) or by its waited-for children.
double SystemSeconds(int who) {
  rusage usage {};
  ::getrusage(who, &usage);
  return static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
}

// The tree, made once per process under the system's temporary folder, or
// the folder SORVEL_BENCH_TREE names (made there when missing, then kept).
class HostTree {
 public:
  HostTree() {
    if (const char* kept = std::getenv("SORVEL_BENCH_TREE")) {
      root_ = kept;
      keep_ = true;
      if (fs::exists(root_)) return;
    } else {
      root_ = fs::temp_directory_path() / ("sorvel-mastering-bench-" + std::to_string(::getpid()));
    }
    std::mt19937 random(20261208);
    std::vector<char> content(8192);
    for (auto& c : content) c = static_cast<char>(random());
    for (int top = 0; top < kTopDirectories; ++top) {
      for (int d = 0; d < kDirectoriesEach; ++d) {
        fs::path dir = root_ / ("top folder " + std::to_string(top)) / ("directory " + std::to_string(d));
        fs::create_directories(dir);
        for (int f = 0; f < kFilesEach; ++f) {
          std::string path = (dir / ("document number " + std::to_string(f) + ".txt")).string();
          int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
          if (fd < 0) std::abort();
          size_t size = random() % (content.size() + 1);
          if (::write(fd, content.data() + random() % 16, size > 8176 ? 8176 : size) < 0) std::abort();
          ::close(fd);
        }
      }
    }
  }
  ~HostTree() {
    std::error_code ec;
    if (!keep_) fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
  bool keep_ = false;
};

const HostTree& Tree() {
  static HostTree tree;
  return tree;
}

// The exports the GUI calls, from build/bin/libtazol.so next to build/bench/.
struct Tazol {
  Tazol() {
    fs::path lib = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "libtazol.so";
    handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "%s\n", dlerror());
      std::abort();
    }
    Load(initialize, "Initialize");
    Load(terminate, "Terminate");
    Load(init_isofs, "InitISOFS");
    Load(add_file, "AddISOFile");
    Load(make_directory, "MakeISODirectory");
    Load(change_directory, "ChangeISODirectory");
    Load(new_name, "GetISONewFileDirectoryName");
    Load(read_start, "ReadStart");
    Load(read, "Read");
    Load(read_end, "ReadEnd");
  }
  template <typename F>
  void Load(F& f, const char* name) {
    f = reinterpret_cast<F>(dlsym(handle, name));
    if (f == nullptr) std::abort();
  }
  void* handle = nullptr;
  intptr_t (*initialize)() = nullptr;
  int32_t (*terminate)(intptr_t) = nullptr;
  int32_t (*init_isofs)(intptr_t, int32_t) = nullptr;
  int32_t (*add_file)(intptr_t, const char*, const char*) = nullptr;
  int32_t (*make_directory)(intptr_t, const char*, int32_t, int32_t) = nullptr;
  int32_t (*change_directory)(intptr_t, const char*) = nullptr;
  int32_t (*new_name)(intptr_t, char*, int32_t) = nullptr;
  int32_t (*read_start)(intptr_t, const char*) = nullptr;
  int32_t (*read)(intptr_t, uint8_t*, int32_t) = nullptr;
  int32_t (*read_end)(intptr_t) = nullptr;
};

// Adds the host folder `dir` to the current image folder, as a caller that
// walks the host tree does.
void AddFolder(const Tazol& t, intptr_t h, const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) std::abort();
  std::vector<std::pair<std::string, bool>> entries;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    entries.emplace_back(name, e->d_type == DT_DIR);
  }
  ::closedir(d);
  for (const auto& [name, is_directory] : entries) {
    std::string path = dir + "/" + name;
    if (is_directory) {
      if (!t.make_directory(h, name.c_str(), 0, 0)) std::abort();
      char created[1024];
      t.new_name(h, created, sizeof created);
      t.change_directory(h, created);
      AddFolder(t, h, path);
      t.change_directory(h, "..");
    } else if (!t.add_file(h, name.c_str(), path.c_str())) {
      std::abort();
    }
  }
}

struct MasterTimes {
  double tree_and_layout = 0;
  double total = 0;
};

MasterTimes MasterThroughExports(const Tazol& t, const std::string& out_path) {
  MasterTimes times;
  auto start = Clock::now();
  intptr_t h = t.initialize();
  t.init_isofs(h, kJoliet);
  AddFolder(t, h, Tree().root().string());
  int32_t sectors = t.read_start(h, "BENCH");
  times.tree_and_layout = Seconds(Clock::now() - start);
  if (sectors <= 0) std::abort();
  int fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) std::abort();
  // Sectors are collected into 1 MiB writes, as an image writer would.
  std::vector<uint8_t> batch(512 * 2048);
  std::vector<uint8_t> sector(2352);
  size_t used = 0;
  for (int32_t i = 0; i < sectors; ++i) {
    if (!t.read(h, sector.data(), 0)) std::abort();
    std::copy(sector.begin(), sector.begin() + 2048, batch.begin() + static_cast<std::ptrdiff_t>(used));
    used += 2048;
    if (used == batch.size() || i + 1 == sectors) {
      if (::write(fd, batch.data(), used) != static_cast<ssize_t>(used)) std::abort();
      used = 0;
    }
  }
  ::close(fd);
  t.read_end(h);
  t.terminate(h);
  times.total = Seconds(Clock::now() - start);
  return times;
}

double Genisoimage(const std::string& out_path) {
  std::string command = "genisoimage -quiet -J -r -o '" + out_path + "' '" + Tree().root().string() + "'";
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) std::abort();
  return Seconds(Clock::now() - start);
}

void BM_MasterTreeAgainstGenisoimage(benchmark::State& state) {
  static Tazol tazol;
  const fs::path out_dir = Tree().root().parent_path();
  const std::string ours = (out_dir / ("sorvel-bench-ours-" + std::to_string(::getpid()) + ".iso")).string();
  const std::string theirs = (out_dir / ("sorvel-bench-genisoimage-" + std::to_string(::getpid()) + ".iso")).string();
  // One round of each first, so both find the tree in the page cache.
  Genisoimage(theirs);
  MasterThroughExports(tazol, ours);
  double ours_total = 0, theirs_total = 0, layout_total = 0, ours_system = 0, theirs_system = 0;
  for (auto _ : state) {
    const double children_before = SystemSeconds(RUSAGE_CHILDREN);
    double genisoimage = Genisoimage(theirs);
    theirs_system += SystemSeconds(RUSAGE_CHILDREN) - children_before;
    const double self_before = SystemSeconds(RUSAGE_SELF);
    MasterTimes times = MasterThroughExports(tazol, ours);
    ours_system += SystemSeconds(RUSAGE_SELF) - self_before;
    state.SetIterationTime(times.total);
    ours_total += times.total;
    theirs_total += genisoimage;
    layout_total += times.tree_and_layout;
  }
  double n = static_cast<double>(state.iterations());
  state.counters["sorvel_s"] = ours_total / n;
  state.counters["genisoimage_s"] = theirs_total / n;
  // The system time of each, where the cost of the host file queries shows.
  state.counters["sorvel_sys_s"] = ours_system / n;
  state.counters["genisoimage_sys_s"] = theirs_system / n;
  state.counters["tree_and_layout_s"] = layout_total / n;
  state.counters["ratio_to_genisoimage"] = ours_total / theirs_total;
  state.counters["image_MiB"] = static_cast<double>(fs::file_size(ours)) / (1 << 20);
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
}
BENCHMARK(BM_MasterTreeAgainstGenisoimage)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
