// Opening a big project in the main window (offscreen, the real mastering
// engine): from a new window to an idle, fully drawn one. Two layouts, each at
// two sizes so that the ratio shows how the cost grows:
//   - nested: top folders of 100 folders of 10 files each (50,000 files in
//     5,050 folders, 100,000 files in 10,100 folders); goal 5 s and 400 MB
//     peak resident for the larger one;
//   - flat: 10,000 and 20,000 folders in the root; goal 2 s for 10,000.
// The automation class builds the same nested layout from the host folders
// (AddFile) in the same run: the figure of the way around the window, and the
// ratio to it. Peak resident memory counts from the start of each run (run a
// benchmark alone for the program's whole peak).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/modal_ui.h"
#include "gui/jobs/mastering.h"
#include "gui/model/engine_library.h"
#include "gui/workspace/main_form.h"
#include "platform/local_time_zone.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFoldersPerTop = 100;
constexpr int kFilesPerFolder = 10;

std::string Numbered(const char* prefix, int n) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%05d", prefix, n);
  return text;
}

// A scratch folder with the settings files of the window, removed at exit.
class Scratch {
 public:
  Scratch() {
    std::string tmpl = (fs::temp_directory_path() / "sorvel-project-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) dir_ = tmpl;
    std::ofstream(dir_ / "sorvel.INI", std::ios::binary) << "[DISCCAPACITY]\r\nMedia1=DVD-R\t2295104\r\n";
  }
  ~Scratch() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

// The host folders and the project file of the nested layout with `files`
// files, made once per size. Directory lines come before the lines of the
// entries inside them, every directory's entries before its subdirectories',
// as the window writes them.
struct NestedLayout {
  fs::path host;
  fs::path project;
  int folders = 0;
};

const NestedLayout& Nested(int files) {
  static std::map<int, NestedLayout> made;
  auto found = made.find(files);
  if (found != made.end()) return found->second;
  NestedLayout& layout = made[files];
  const int tops = files / (kFoldersPerTop * kFilesPerFolder);
  layout.host = TheScratch().dir() / ("nested" + std::to_string(files));
  layout.project = TheScratch().dir() / ("nested" + std::to_string(files) + ".wpj");
  std::ofstream out(layout.project, std::ios::binary);
  out << "[Mastering]\r\nLabel=BIG\r\nFileSystem=17\r\n\r\n[Data]\r\n";
  const std::string stamp = "\t20240102030405\t0\r\n";
  for (int t = 0; t < tops; ++t) out << "1\t\\\t" << Numbered("T", t) << '\t' << (layout.host / Numbered("T", t)).string() << stamp;
  for (int t = 0; t < tops; ++t) {
    const std::string top = Numbered("T", t);
    for (int f = 0; f < kFoldersPerTop; ++f)
      out << "1\t\\" << top << "\\\t" << Numbered("D", f) << '\t' << (layout.host / top / Numbered("D", f)).string()
          << stamp;
    for (int f = 0; f < kFoldersPerTop; ++f) {
      const fs::path folder = layout.host / top / Numbered("D", f);
      fs::create_directories(folder);
      for (int n = 0; n < kFilesPerFolder; ++n) {
        const fs::path file = folder / (Numbered("F", n) + ".dat");
        const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd >= 0) ::close(fd);
        out << "0\t\\" << top << '\\' << Numbered("D", f) << "\\\t" << Numbered("F", n) << ".dat\t" << file.string()
            << stamp;
      }
    }
  }
  out << "\r\n[Audio]\r\n";
  layout.folders = tops * (kFoldersPerTop + 1);
  return layout;
}

// A project of `folders` directories in the root; directories need no host files.
fs::path Flat(int folders) {
  const fs::path project = TheScratch().dir() / ("flat" + std::to_string(folders) + ".wpj");
  if (fs::exists(project)) return project;
  std::ofstream out(project, std::ios::binary);
  out << "[Mastering]\r\nLabel=FLAT\r\nFileSystem=17\r\n\r\n[Data]\r\n";
  for (int f = 0; f < folders; ++f) out << "1\t\\\t" << Numbered("D", f) << "\t/nowhere\t20240102030405\t0\r\n";
  out << "\r\n[Audio]\r\n";
  return project;
}

// Peak resident memory since the last reset, in MiB (VmHWM; reset through
// clear_refs, after the heap freed by earlier runs went back to the system).
void ResetPeakResident() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
}
double PeakResidentMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  return 0;
}

// Runs the event loop until the window's change timers have fired and nothing
// is left to do, then paints the whole window.
void DrainAndDraw(sorvel::MainForm& form) {
  for (int round = 0; round < 10000; ++round) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!form.tmrChangeFile()->isActive() && !form.tmrChangeFileSize()->isActive() &&
        !form.tmrChangeTrack()->isActive() && round > 2)
      break;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  form.repaint();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Seconds the automation class takes to build the nested layout of `files`
// files from its host folders (AddFile of every top folder), once per size;
// negative when AddFile failed.
double AutomationSeconds(int files) {
  static std::map<int, double> measured;
  auto found = measured.find(files);
  if (found != measured.end()) return found->second;
  const QString pattern = QString::fromStdString((Nested(files).host / "*").string());
  const auto start = std::chrono::steady_clock::now();
  bool added = false;
  {
    sorvel::Mastering mastering;
    mastering.InitISOFS(17);
    try {
      added = mastering.AddFile(pattern);
    } catch (const sorvel::MasteringError&) {
      added = false;
    }
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return measured[files] = added ? took.count() : -1.0;
}

// Opens `project` in a new window until it is idle and drawn; the seconds of
// the last run.
// A file of the scratch folder.
QString ScratchFile(const char* name) { return QString::fromStdString((TheScratch().dir() / name).string()); }

// A new main window over the scratch folder's settings, shown at 1024 x 768.
std::unique_ptr<sorvel::MainForm> ShowWindow(sorvel::ApplicationSetting* settings, QSettings* store) {
  auto form = std::make_unique<sorvel::MainForm>(settings, store);
  form->resize(1024, 768);
  form->show();
  return form;
}

int TreeNodes(sorvel::MainForm& form) {
  int nodes = 0;
  for (QTreeWidgetItemIterator it(form.trvDirectory()); *it; ++it) ++nodes;
  return nodes;
}

void CloseWindow(std::unique_ptr<sorvel::MainForm>& form) {
  form->close();
  form.reset();
  QCoreApplication::processEvents();
}

double OpenInWindow(benchmark::State& state, const fs::path& project, int expected_nodes) {
  const QString file = QString::fromStdString(project.string());
  int nodes = 0;
  double peak = 0;
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto settings = std::make_unique<sorvel::ApplicationSetting>(ScratchFile("sorvel.INI"));
    QSettings store(ScratchFile("user.ini"), QSettings::IniFormat);
    QCoreApplication::processEvents();
    ResetPeakResident();
    const auto start = std::chrono::steady_clock::now();
    state.ResumeTiming();
    auto form = ShowWindow(settings.get(), &store);
    const bool loaded = form->FileProjectLoad(file);
    DrainAndDraw(*form);
    state.PauseTiming();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peak = PeakResidentMiB();
    nodes = TreeNodes(*form);
    CloseWindow(form);
    state.ResumeTiming();
    if (!loaded) {
      state.SkipWithError("the project did not load");
      return 0;
    }
  }
  if (nodes != expected_nodes) state.SkipWithError("the tree does not hold every folder");
  state.counters["tree_nodes"] = nodes;
  state.counters["peak_MiB"] = peak;
  return seconds;
}

void BM_OpenNestedProject(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  const NestedLayout& layout = Nested(files);
  const double automation = AutomationSeconds(files);
  const double window = OpenInWindow(state, layout.project, layout.folders + 1);
  state.counters["files"] = files;
  // The peer figure of the same run and the ratio to it.
  state.counters["automation_s"] = automation;
  if (automation > 0) state.counters["x_automation"] = window / automation;
}
BENCHMARK(BM_OpenNestedProject)->Arg(50000)->Arg(100000)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_OpenFlatProject(benchmark::State& state) {
  const int folders = static_cast<int>(state.range(0));
  OpenInWindow(state, Flat(folders), folders + 1);
}
BENCHMARK(BM_OpenFlatProject)->Arg(10000)->Arg(20000)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// Answers every question with Yes.
class YesModalUi : public sorvel::ModalUi {
 public:
  int MessageBox(QWidget*, const QString&, int, const QString&) override { return sorvel::kIdYes; }
  QStringList OpenFileNames(QWidget*, const QString&, const QString&, int) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, int) override { return {}; }
  QString BrowseForFolder(QWidget*, const QString&, int) override { return {}; }
};

// Removing every folder of the flat project at once (all rows selected,
// removed, the tree pruned) until the window is idle and drawn; the time of
// the removal alone. Twice the folders should take about twice the time.
void BM_RemoveFlatFolders(benchmark::State& state) {
  const int folders = static_cast<int>(state.range(0));
  const QString file = QString::fromStdString(Flat(folders).string());
  YesModalUi yes;
  sorvel::ModalUi* before = sorvel::InstallModalUi(&yes);
  int nodes_left = -1;
  for (auto _ : state) {
    state.PauseTiming();
    auto settings = std::make_unique<sorvel::ApplicationSetting>(ScratchFile("sorvel.INI"));
    QSettings store(ScratchFile("user.ini"), QSettings::IniFormat);
    auto form = ShowWindow(settings.get(), &store);
    const bool loaded = form->FileProjectLoad(file);
    DrainAndDraw(*form);
    form->lsvFiles()->selectAll();
    state.ResumeTiming();
    form->mnuWellRemove_Click();
    DrainAndDraw(*form);
    state.PauseTiming();
    nodes_left = TreeNodes(*form);
    CloseWindow(form);
    state.ResumeTiming();
    if (!loaded) {
      state.SkipWithError("the project did not load");
      break;
    }
  }
  sorvel::InstallModalUi(before);
  // Every folder gone: the layout is empty and so is the tree.
  if (nodes_left != 0) state.SkipWithError("folders left in the tree");
  state.counters["folders"] = folders;
}
BENCHMARK(BM_RemoveFlatFolders)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // The zone is read once, as the program does at its start.
  sorvel::platform::PinLocalTimeZone();
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  // The engine library beside the program's bin folder of the build.
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  sorvel::SetEngineLibraryFolder(QString::fromStdString((exe.parent_path().parent_path() / "bin").string()));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
