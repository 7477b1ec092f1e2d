// Installing the suite as a Linux program: `cmake --install` into a scratch
// prefix whose name holds characters that the desktop's files must quote
// (a space, "'", "$", parentheses), then what was installed as its users
// meet it: the tree and its links, the desktop entry and MIME types as the
// desktop's own tools read them, the program started through its link under
// X showing both engines, the automation server that the bus starts from the
// installed activation file burning a layout, and the daemon's service
// registration from the installed place.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "drive_daemon/exit_codes.h"
#include "drive_daemon/remote_test_support.h"
#include "gui/automation/automation_service.h"
#include "gui/automation/mastering_bus.h"
#include "gui/dialogs/about_information_form.h"
#include "gui/jobs/mastering_test_rig.h"
#include "gui/model/engine_library.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/tazol.h"
#include "gui/model/trelin.h"
#include "platform/file_service_manager.h"
#include "testing/file_bytes.h"
#include "testing/gui/accessibility_bus.h"
#include "testing/gui/mastering_bus_client.h"
#include "testing/gui/private_bus.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::AccessibilityBus;
using testing::AccessibleObject;
using testing::BoolOf;
using testing::BusClient;
using testing::ErrorOf;
using testing::Q;
using testing::ReadFileBytes;
using testing::ScratchDir;

struct Result {
  int status = -1;
  std::string output;  // standard output and error
};

// Runs `program` (no shell) in `environment`, at most `timeout_ms`.
Result RunTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
               const QString& directory = QString(), int timeout_ms = 120000) {
  QProcess process;
  process.setProcessEnvironment(environment);
  process.setProcessChannelMode(QProcess::MergedChannels);
  if (!directory.isEmpty()) process.setWorkingDirectory(directory);
  process.start(program, arguments);
  Result result;
  if (!process.waitForStarted(10000)) {
    result.output = "could not start " + program.toStdString();
    return result;
  }
  if (!process.waitForFinished(timeout_ms)) {
    process.kill();
    process.waitForFinished(5000);
    result.output = "timed out: ";
  }
  result.output += process.readAll().toStdString();
  if (process.exitStatus() == QProcess::NormalExit) result.status = process.exitCode();
  return result;
}

// The pictures of a window's _NET_WM_ICON as xprop prints the property
// ("_NET_WM_ICON = w, h, ARGB..., w, h, ..."); none when it is not set.
std::vector<QImage> WindowIcons(const std::string& printed) {
  std::vector<quint32> values;
  const size_t equals = printed.find('=');
  if (equals == std::string::npos) return {};
  std::istringstream in(printed.substr(equals + 1));
  std::string item;
  while (std::getline(in, item, ',')) values.push_back(static_cast<quint32>(std::stoul(item)));
  std::vector<QImage> pictures;
  for (size_t at = 0; at + 2 <= values.size();) {
    const int width = static_cast<int>(values[at]);
    const int height = static_cast<int>(values[at + 1]);
    at += 2;
    if (width <= 0 || height <= 0 || at + static_cast<size_t>(width) * static_cast<size_t>(height) > values.size()) break;
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) picture.setPixel(x, y, values[at++]);
    pictures.push_back(picture);
  }
  return pictures;
}

// The environment of the installed programs: nothing that would let them
// find libraries anywhere but beside themselves.
QProcessEnvironment ProgramEnvironment() {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"LD_LIBRARY_PATH", "LD_PRELOAD", "SORVEL_BIN_DIR", "SORVEL_SERVICE_NAME", "DESTDIR"})
    environment.remove(QString::fromLatin1(name));
  return environment;
}

// Every entry below `root`, as paths relative to it (links not followed).
std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> entries;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    entries.insert(it->path().lexically_relative(root).string());
  }
  return entries;
}

// Caches that the desktop's tools build from the installed files.
bool IsDesktopCache(const std::string& entry) {
  return (entry.rfind("share/mime/", 0) == 0 && entry.rfind("share/mime/packages", 0) != 0) ||
         entry == "share/applications/mimeinfo.cache";
}

struct InstallRun {
  Result result;
  // The install's manifest (what an uninstall removes): one installed path a line.
  std::set<std::string> manifest;
};

InstallRun Install(const fs::path& prefix, const fs::path& destdir = fs::path()) {
  QProcessEnvironment environment = ProgramEnvironment();
  if (!destdir.empty()) environment.insert(QStringLiteral("DESTDIR"), Q(destdir));
  InstallRun run;
  run.result =
      RunTool(QStringLiteral(SORVEL_CMAKE_COMMAND),
              {QStringLiteral("--install"), QStringLiteral(SORVEL_BUILD_DIR), QStringLiteral("--prefix"), Q(prefix)},
              environment);
  std::istringstream lines(ReadFileBytes(fs::path(SORVEL_BUILD_DIR) / "install_manifest.txt"));
  for (std::string line; std::getline(lines, line);) run.manifest.insert(line);
  return run;
}

// The files and links of an installed tree, as the paths below `prefix` that
// a manifest names; caches and the programs' settings files (written by
// running them) left out.
std::set<std::string> InstalledFiles(const fs::path& root, const std::string& prefix) {
  std::set<std::string> files;
  for (const std::string& entry : Tree(root)) {
    const bool settings = entry.size() > 4 && entry.compare(entry.size() - 4, 4, ".INI") == 0;
    if (!fs::is_directory(fs::symlink_status(root / entry)) && !IsDesktopCache(entry) && !settings)
      files.insert(prefix + "/" + entry);
  }
  return files;
}

// The lines of a desktop entry or activation file that begin with `key=`.
std::vector<std::string> KeyLines(const std::string& text, const std::string& key) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + "=", 0) == 0) lines.push_back(line);
  }
  return lines;
}

// The type shared-mime-info's globs give a file name pattern ("" when none):
// the first, weightiest line of `globs2` for it.
std::string GlobType(const fs::path& globs2, const std::string& pattern) {
  std::istringstream in(ReadFileBytes(globs2));
  for (std::string line; std::getline(in, line);) {
    // weight:type:pattern[:flags]
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string rest = line.substr(second + 1);
    if (rest.substr(0, rest.find(':')) == pattern) return line.substr(first + 1, second - first - 1);
  }
  return std::string();
}

std::string MapsOf(qint64 pid) { return ReadFileBytes("/proc/" + std::to_string(pid) + "/maps"); }

class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new ScratchDir;
    prefix_ = fs::canonical(scratch_->path()) / "pre fix's $HOME (1)";
    install_ = Install(prefix_);
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(install_.result.status, 0) << install_.result.output; }

  static fs::path P(const std::string& relative) { return prefix_ / relative; }
  static QString QP(const std::string& relative) { return Q(P(relative)); }

  static inline ScratchDir* scratch_ = nullptr;
  static inline fs::path prefix_;
  static inline InstallRun install_;
};

// The deliverables together in lib/sorvel/, relative links to the two
// programs in bin/, the desktop files in share/; each program runs through
// its link and finds its libraries beside its real file, and no installed
// file names the build folder.
TEST_F(Installed, TreeHoldsTheDeliverablesAndTheirLinks) {
  enum Kind { kProgram, kLibrary, kFile, kLink, kFolder };
  const struct {
    const char* path;
    Kind kind;
    const char* link_target;
  } entries[] = {
      {"lib/sorvel/sorvel", kProgram, nullptr},
      {"lib/sorvel/kestrow", kProgram, nullptr},
      {"lib/sorvel/libtrelin.so", kLibrary, nullptr},
      {"lib/sorvel/libtazol.so", kLibrary, nullptr},
      {"lib/sorvel/libsorvel_emu.so", kLibrary, nullptr},
      {"bin/sorvel", kLink, "../lib/sorvel/sorvel"},
      {"bin/kestrow", kLink, "../lib/sorvel/kestrow"},
      {"share/applications/sorvel.desktop", kFile, nullptr},
      {"share/icons/hicolor/scalable/apps/sorvel.svg", kFile, nullptr},
      {"share/icons/hicolor/scalable/mimetypes/application-x-sorvel-project.svg", kFile, nullptr},
      {"share/mime/packages/sorvel.xml", kFile, nullptr},
      {"share/dbus-1/services/SORVEL.Mastering.service", kFile, nullptr},
      {"share/dbus-1/interfaces", kFolder, nullptr},
  };
  ASSERT_TRUE(testing::RequireTool("readelf"));
  for (const auto& entry : entries) {
    SCOPED_TRACE(entry.path);
    const fs::path path = P(entry.path);
    const fs::file_status status = fs::symlink_status(path);
    switch (entry.kind) {
      case kProgram:
      case kLibrary: {
        ASSERT_TRUE(fs::is_regular_file(status));
        if (entry.kind == kProgram) {
          EXPECT_NE(status.permissions() & fs::perms::owner_exec, fs::perms::none);
        }
        // Libraries are looked for beside the real file, nowhere else.
        const Result dynamic =
            RunTool(QStringLiteral("readelf"), {QStringLiteral("-d"), Q(path)}, ProgramEnvironment());
        EXPECT_NE(dynamic.output.find("[$ORIGIN]"), std::string::npos) << dynamic.output;
        EXPECT_EQ(dynamic.output.find(SORVEL_BUILD_DIR), std::string::npos) << dynamic.output;
        break;
      }
      case kFile:
        EXPECT_TRUE(fs::is_regular_file(status));
        EXPECT_EQ(ReadFileBytes(path).find(SORVEL_BUILD_DIR), std::string::npos);
        break;
      case kLink:
        ASSERT_TRUE(fs::is_symlink(status));
        EXPECT_EQ(fs::read_symlink(path).string(), entry.link_target);
        EXPECT_TRUE(fs::equivalent(path, path.parent_path() / entry.link_target));
        break;
      case kFolder:
        EXPECT_TRUE(fs::is_directory(status));
        break;
    }
  }
  // The manifest names every installed file and link, so an uninstall leaves
  // nothing behind.
  EXPECT_EQ(install_.manifest, InstalledFiles(prefix_, prefix_.string()));
  // Nothing else in bin/ and lib/.
  EXPECT_EQ(Tree(P("bin")), (std::set<std::string>{"kestrow", "sorvel"}));
  std::set<std::string> top;
  for (const auto& entry : fs::directory_iterator(P("lib"))) top.insert(entry.path().filename().string());
  EXPECT_EQ(top, std::set<std::string>{"sorvel"});
  // The daemon runs through its link: its libraries resolve beside lib/sorvel/kestrow.
  const Result usage = RunTool(QP("bin/kestrow"), {}, ProgramEnvironment());
  EXPECT_EQ(usage.status, 0) << usage.output;
  EXPECT_NE(usage.output.find("Quillmarsh Kestrow Daemon"), std::string::npos) << usage.output;
}

// A packager's staged install (DESTDIR): every file lands below the staging
// root, the same files as a direct install; the written files name the
// prefix, never the staging root; no cache is built for a staged tree.
TEST_F(Installed, StagedInstallWritesOnlyBelowItsRootAndNamesThePrefix) {
  ScratchDir stage_dir;
  const fs::path stage = fs::canonical(stage_dir.path());
  // A prefix no machine has (the scratch folder's random name in it).
  const std::string prefix = "/opt/" + stage.filename().string();
  ASSERT_FALSE(fs::exists(prefix));
  const InstallRun staged = Install(prefix, stage);
  ASSERT_EQ(staged.result.status, 0) << staged.result.output;
  EXPECT_FALSE(fs::exists(prefix));

  const fs::path root = stage / prefix.substr(1);
  for (const std::string& entry : Tree(stage)) {
    const fs::path path = stage / entry;
    EXPECT_TRUE(entry == "opt" || path == root || entry.rfind(root.lexically_relative(stage).string() + "/", 0) == 0)
        << entry;
    if (fs::is_regular_file(fs::symlink_status(path))) {
      EXPECT_EQ(ReadFileBytes(path).find(stage.string()), std::string::npos) << entry;
    }
  }
  std::set<std::string> direct;
  for (const std::string& entry : Tree(prefix_)) {
    if (!IsDesktopCache(entry) && entry.rfind("lib/sorvel/", 0) != 0) direct.insert(entry);
  }
  std::set<std::string> in_stage;
  for (const std::string& entry : Tree(root)) {
    EXPECT_FALSE(IsDesktopCache(entry)) << entry;
    if (entry.rfind("lib/sorvel/", 0) != 0) in_stage.insert(entry);
  }
  EXPECT_EQ(in_stage, direct);
  EXPECT_EQ(staged.manifest, InstalledFiles(root, prefix));
  for (const char* program : {"sorvel", "kestrow", "libtrelin.so", "libtazol.so", "libsorvel_emu.so"})
    EXPECT_TRUE(fs::is_regular_file(root / "lib/sorvel" / program)) << program;
  EXPECT_EQ(fs::read_symlink(root / "bin/sorvel").string(), "../lib/sorvel/sorvel");

  // A plain prefix stands unquoted.
  EXPECT_EQ(ReadFileBytes(root / "share/dbus-1/services/SORVEL.Mastering.service"),
            "[D-BUS Service]\nName=SORVEL.Mastering\nExec=" + prefix + "/bin/sorvel --automation\n");
  const std::string entry = ReadFileBytes(root / "share/applications/sorvel.desktop");
  EXPECT_EQ(KeyLines(entry, "Exec"), std::vector<std::string>{"Exec=" + prefix + "/bin/sorvel %f"});
  EXPECT_EQ(KeyLines(entry, "TryExec"), std::vector<std::string>{"TryExec=" + prefix + "/bin/sorvel"});
}

// The desktop entry as desktop-file-validate reads it, its Exec lines quoted
// for the prefix; the MIME types of the files the program opens, as the
// shared MIME database (with the installed definitions) names them, all
// listed in the entry, which update-desktop-database registered for each.
TEST_F(Installed, DesktopEntryAndTypesAsTheDesktopToolsReadThem) {
  for (const char* tool : {"desktop-file-validate", "update-mime-database", "update-desktop-database"})
    ASSERT_TRUE(testing::RequireTool(tool));
  const Result validated =
      RunTool(QStringLiteral("desktop-file-validate"), {QP("share/applications/sorvel.desktop")}, ProgramEnvironment());
  EXPECT_EQ(validated.status, 0) << validated.output;
  EXPECT_EQ(validated.output, "");

  // The program's path in double quotes, "$" escaped by a backslash that
  // the string value doubles; "'" and parentheses stand as they are.
  std::string desktop_program = P("bin/sorvel").string();
  desktop_program.replace(desktop_program.find('$'), 1, "\\\\$");
  const std::string entry = ReadFileBytes(P("share/applications/sorvel.desktop"));
  EXPECT_EQ(KeyLines(entry, "Exec"), std::vector<std::string>{"Exec=\"" + desktop_program + "\" %f"});
  EXPECT_EQ(KeyLines(entry, "TryExec"), std::vector<std::string>{"TryExec=" + P("bin/sorvel").string()});
  EXPECT_EQ(KeyLines(entry, "Icon"), std::vector<std::string>{"Icon=sorvel"});
  EXPECT_EQ(KeyLines(ReadFileBytes(P("share/dbus-1/services/SORVEL.Mastering.service")), "Exec"),
            std::vector<std::string>{"Exec=\"" + P("bin/sorvel").string() + "\" --automation"});

  const std::vector<std::string> mime_lines = KeyLines(entry, "MimeType");
  ASSERT_EQ(mime_lines.size(), 1u);
  const std::string listed = ";" + mime_lines.front().substr(std::string("MimeType=").size());
  const std::string cache = ReadFileBytes(P("share/applications/mimeinfo.cache"));
  const struct {
    const char* pattern;
    const char* installed_type;  // defined by the installed XML; null: by the system's database
  } types[] = {
      {"*.iso", nullptr},
      {"*.cue", nullptr},
      {"*.ccd", "application/x-sorvel-ccd"},
      {"*.tsn", "application/x-sorvel-tsn"},
      {"*.wpj", "application/x-sorvel-project"},
  };
  for (const auto& t : types) {
    SCOPED_TRACE(t.pattern);
    std::string type = GlobType(P("share/mime/globs2"), t.pattern);
    if (t.installed_type != nullptr) {
      EXPECT_EQ(type, t.installed_type);
    } else {
      EXPECT_EQ(type, "");
      type = GlobType("/usr/share/mime/globs2", t.pattern);
      ASSERT_FALSE(type.empty());
    }
    EXPECT_NE(listed.find(";" + type + ";"), std::string::npos) << type;
    EXPECT_NE(cache.find("\n" + type + "=sorvel.desktop;"), std::string::npos) << type;
  }  // Project files show the program's icon, under the name their type gives.
  EXPECT_NE(("\n" + ReadFileBytes(P("share/mime/icons"))).find("\napplication/x-sorvel-project:application-x-sorvel-project\n"),
            std::string::npos);
  EXPECT_EQ(ReadFileBytes(P("share/icons/hicolor/scalable/mimetypes/application-x-sorvel-project.svg")),
            ReadFileBytes(P("share/icons/hicolor/scalable/apps/sorvel.svg")));
}

// The installed program, started through bin/sorvel under X, opens its main
// window; its about box, opened from the help menu, shows both engines'
// versions, read through the program's accessibility interface; the engines
// it loaded are the installed ones; it stays up after the box closes and
// ends from its menu.
TEST_F(Installed, ProgramStartedThroughItsLinkShowsBothEnginesAndStaysUp) {
  ASSERT_TRUE(qEnvironmentVariableIsSet("DISPLAY")) << "run under xvfb-run (as CTest does)";
  ScratchDir dir;
  testing::PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  AccessibilityBus a11y(bus);
  ASSERT_TRUE(a11y.ok());
  QProcessEnvironment environment = ProgramEnvironment();
  environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Q(dir.path() / "config"));
  environment.insert(QStringLiteral("SORVEL_DRIVES"),
                     QStringLiteral("D:=emu:") + Q(dir.path() / "drive") + QStringLiteral(",medium=cd-r"));
  QProcess program;
  program.setProcessEnvironment(environment);
  program.setProcessChannelMode(QProcess::MergedChannels);
  program.start(QP("bin/sorvel"), {});
  ASSERT_TRUE(program.waitForStarted(10000));
  const qint64 pid = program.processId();
  const auto output = [&program] { return program.readAll().toStdString(); };
  const auto named = [](const char* text) {
    return [name = QString::fromUtf8(text)](const QString& candidate) { return candidate == name; };
  };

  AccessibleObject root, about_item;
  ASSERT_TRUE(AccessibilityBus::WaitFor(
      [&] {
        if (program.state() != QProcess::Running) return true;
        if (!root.valid()) root = a11y.RootOf(pid);
        if (root.valid()) about_item = a11y.Find(root, QStringLiteral("menu item"), named("バージョン情報(A)..."));
        return about_item.valid();
      },
      60000));
  ASSERT_TRUE(about_item.valid()) << "no main window: " << output();
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe"), P("lib/sorvel/sorvel"));

  // The main window carries the program's icon (not the desktop's generic
  // one): every picture of its _NET_WM_ICON is the installed icon drawn at
  // that size.
  {
    ASSERT_TRUE(testing::RequireTool("xdotool"));
    ASSERT_TRUE(testing::RequireTool("xprop"));
    const Result found = RunTool(QStringLiteral("xdotool"),
                                 {QStringLiteral("search"), QStringLiteral("--pid"), QString::number(pid),
                                  QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^Sorvel$")},
                                 ProgramEnvironment());
    const std::string window = found.output.substr(0, found.output.find('\n'));
    ASSERT_FALSE(window.empty()) << found.output;
    const Result icon = RunTool(QStringLiteral("xprop"),
                                {QStringLiteral("-id"), QString::fromStdString(window), QStringLiteral("-notype"),
                                 QStringLiteral("-f"), QStringLiteral("_NET_WM_ICON"), QStringLiteral("32c"),
                                 QStringLiteral(" = $0+\n"), QStringLiteral("_NET_WM_ICON")},
                                ProgramEnvironment());
    const std::vector<QImage> pictures = WindowIcons(icon.output);
    ASSERT_FALSE(pictures.empty()) << icon.output.substr(0, 200);
    std::set<int> sizes;
    for (const QImage& picture : pictures) {
      SCOPED_TRACE(picture.width());
      sizes.insert(picture.width());
      const QString png = QString::fromStdString(
          (testing::SourceTree() / "packaging" / "icons" / ("sorvel-" + std::to_string(picture.width()) + ".png"))
              .string());
      // The route the window system's picture takes: a pixmap, then 32-bit ARGB.
      const QImage expected = QPixmap::fromImage(QImage(png)).toImage().convertToFormat(QImage::Format_ARGB32);
      EXPECT_EQ(picture, expected);
    }
    EXPECT_TRUE(sizes.count(16) == 1 && sizes.count(32) == 1 && sizes.count(48) == 1);
  }

  // The menu item's action answers when the modal box has closed.
  QDBusPendingCall about_closed = a11y.Press(about_item);
  AccessibleObject box, engines;
  ASSERT_TRUE(AccessibilityBus::WaitFor(
      [&] {
        box = a11y.Find(root, QStringLiteral("dialog"), named("バージョン情報"));
        if (box.valid())
          engines = a11y.Find(box, QStringLiteral("label"),
                              [](const QString& name) { return name.startsWith(u"Sorvel disc engines"); });
        return engines.valid() || program.state() != QProcess::Running;
      },
      60000))
      << output();
  ASSERT_TRUE(engines.valid()) << "no about box: " << output();
  const QRegularExpressionMatch lines =
      QRegularExpression(QStringLiteral("^Sorvel disc engines\\n"
                                        "DriveRelayEngine Trelin -TRELIN- Version (\\d+\\.\\d+\\.\\d+)\\n"
                                        "ImageMasteringEngine Tazol -TAZOL- Version (\\d+\\.\\d+\\.\\d+)$"))
          .match(a11y.Name(engines));
  ASSERT_TRUE(lines.hasMatch()) << a11y.Name(engines).toStdString();
  // The versions the installed libraries report.
  SetEngineLibraryFolder(QP("lib/sorvel"));
  EXPECT_EQ(lines.captured(1), EngineVersionText(Trelin().GetEngineVersion()));
  EXPECT_EQ(lines.captured(2), EngineVersionText(Tazol().GetEngineVersion()));
  SetEngineLibraryFolder(QString());
  const std::string maps = MapsOf(pid);
  for (const char* library : {"libtrelin.so", "libtazol.so", "libsorvel_emu.so"}) {
    EXPECT_NE(maps.find(P("lib/sorvel").string() + "/" + library), std::string::npos) << library;
    EXPECT_EQ(maps.find(std::string(SORVEL_BUILD_DIR) + "/bin/" + library), std::string::npos) << library;
  }

  const AccessibleObject ok = a11y.Find(box, QStringLiteral("push button"), named("OK"));
  ASSERT_TRUE(ok.valid());
  a11y.Press(ok);
  ASSERT_TRUE(AccessibilityBus::WaitFor([&] { return about_closed.isFinished(); }, 30000));
  // Up, with its main window, a while after the box closed.
  EXPECT_FALSE(AccessibilityBus::WaitFor([&] { return program.state() != QProcess::Running; }, 1000));
  EXPECT_FALSE(a11y.Find(root, QStringLiteral("dialog"), named("バージョン情報")).valid());
  const AccessibleObject end = a11y.Find(root, QStringLiteral("menu item"), named("アプリケーションの終了(X)"));
  ASSERT_TRUE(end.valid());
  a11y.Press(end);
  ASSERT_TRUE(AccessibilityBus::WaitFor([&] { return program.state() != QProcess::Running; }, 30000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  const std::string said = output();
  EXPECT_EQ(said.find("見つかりません"), std::string::npos) << said;
}

// A client on a private session bus whose XDG_DATA_DIRS names the prefix's
// share/: the bus starts the installed program as the automation server,
// which burns a data layout to an emulated CD-R with the installed engines;
// isoinfo reads the disc's label and file back.
TEST_F(Installed, BusStartsTheInstalledServerWhichBurnsALayout) {
  ASSERT_TRUE(testing::RequireTool("isoinfo"));
  ScratchDir dir;
  testing::MasteringDriveRig rig(dir, "medium=cd-r");  // the drive map of this process, the bus and the server
  testing::ScopedEnv data_dirs("XDG_DATA_DIRS", P("share").string());
  testing::ScopedEnv data_home("XDG_DATA_HOME", (dir.path() / "data").string());
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  testing::ScopedEnv libraries("LD_LIBRARY_PATH", std::nullopt);
  const std::string text = "Installed and activated by the session bus.\n";
  testing::WriteFileBytes(dir.path() / "readme.txt", text);

  const QString server_name = QString::fromLatin1(kAutomationBusName);
  testing::PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  BusClient client(bus, QStringLiteral("client"));
  const QString object = client.Create();
  ASSERT_FALSE(object.isEmpty());
  QDBusConnection watch = bus.Connect(QStringLiteral("server-watch"));
  const qint64 pid = watch.interface()->servicePid(server_name).value();
  ASSERT_GT(pid, 0);
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe"), P("lib/sorvel/sorvel"));

  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("InitISOFS"), {16})));
  const QVariantList label{QString::fromLatin1(kMasteringInterface), QStringLiteral("VolumeLabel")};
  EXPECT_EQ(client
                .Call(object, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                      label + QVariantList{QVariant::fromValue(QDBusVariant(QStringLiteral("INSTALLED")))})
                .type(),
            QDBusMessage::ReplyMessage);
  EXPECT_TRUE(BoolOf(client.Member(object, QStringLiteral("AddFile"), {Q(dir.path() / "readme.txt"), QString()})));
  const QDBusMessage burnt = client.CallRunning(object, QStringLiteral("StartBurn"), {QStringLiteral("D:"), false});
  EXPECT_TRUE(BoolOf(burnt)) << ErrorOf(burnt).toStdString();
  ASSERT_FALSE(client.progress.empty());
  EXPECT_EQ(client.progress.back().first, client.progress.back().second);
  const std::string maps = MapsOf(pid);
  for (const char* library : {"libtrelin.so", "libtazol.so"})
    EXPECT_NE(maps.find(P("lib/sorvel").string() + "/" + library), std::string::npos) << library;
  EXPECT_TRUE(BoolOf(client.Release(object)));
  EXPECT_TRUE(testing::NameGone(bus, server_name));

  // The data track, sector by sector: the user data of each Mode 1 sector
  // (after its 12 sync and 4 header bytes) into an ISO image.
  Trelin drive;
  ASSERT_TRUE(drive.OpenDevice(3));
  ASSERT_TRUE(drive.IsReady());
  ASSERT_EQ(drive.ReadStart(CCC_RAW, 0), CBR_OK) << drive.GetSCSIErrorDescription().toStdString();
  const auto toc = drive.GetTOCStructure();
  ASSERT_NE(toc, nullptr);
  ASSERT_EQ(toc->TOCCount(), 1);
  const QByteArray sync = QByteArray::fromHex("00ffffffffffffffffffff00");
  std::string image;
  QByteArray sector(Trelin::kSectorBufferSize, '\0');
  for (int32_t lba = toc->TOC(1)->StartLBA; lba <= toc->TOC(1)->EndLBA; ++lba) {
    ASSERT_TRUE(drive.ReadLBA(sector, lba)) << lba;
    ASSERT_TRUE(sector.startsWith(sync) && sector[15] == 1) << lba;
    image.append(sector.constData() + 16, 2048);
  }
  drive.ReadEnd();
  drive.CloseDevice();
  const fs::path iso = dir.path() / "back.iso";
  testing::WriteFileBytes(iso, image);
  const Result info =
      RunTool(QStringLiteral("isoinfo"), {QStringLiteral("-d"), QStringLiteral("-i"), Q(iso)}, ProgramEnvironment());
  EXPECT_NE(info.output.find("Volume id: INSTALLED"), std::string::npos) << info.output;
  QProcess extract;
  extract.start(QStringLiteral("isoinfo"), {QStringLiteral("-J"), QStringLiteral("-i"), Q(iso), QStringLiteral("-x"),
                                            QStringLiteral("/readme.txt;1")});
  ASSERT_TRUE(extract.waitForFinished(30000));
  EXPECT_EQ(extract.readAllStandardOutput().toStdString(), text)
      << RunTool(QStringLiteral("isoinfo"), {QStringLiteral("-J"), QStringLiteral("-f"), QStringLiteral("-i"), Q(iso)},
                 ProgramEnvironment())
             .output;
}

// "/install" of the installed daemon, however it is started, registers the
// installed file (links resolved) with the service manager (the file
// backend, records in a scratch folder); the registered service then runs
// that file, which serves on the port its INI file beside it names.
TEST_F(Installed, DaemonRegistersAndRunsTheInstalledFile) {
  ScratchDir dir;
  const fs::path services = dir.path() / "services";
  const fs::path real_file = P("lib/sorvel/kestrow");
  QProcessEnvironment environment = ProgramEnvironment();
  environment.insert(QStringLiteral("SORVEL_SERVICE_BACKEND"), QStringLiteral("file"));
  environment.insert(QStringLiteral("SORVEL_SERVICE_DIR"), Q(services));
  environment.insert(QStringLiteral("SORVEL_DRIVES"),
                     QStringLiteral("D:=emu:") + Q(dir.path() / "drive") + QStringLiteral(",medium=cd-r"));
  environment.insert(QStringLiteral("PATH"),
                     QP("bin") + QStringLiteral(":") + environment.value(QStringLiteral("PATH")));
  // The shell looks the command up as a user's shell does.
  const auto kestrow = [&](const QString& command, const QString& argument, const QString& directory) {
    return RunTool(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$1\""), command, argument}, environment,
                   directory);
  };
  const std::string record = "program=" + real_file.string() + "\n";

  const struct {
    const char* how;
    QString command;
    QString directory;
  } starts[] = {
      {"the link by its path", QP("bin/kestrow"), Q(dir.path())},
      {"the link found on PATH", QStringLiteral("kestrow"), Q(dir.path())},
      {"the link by a relative path", QStringLiteral("./kestrow"), QP("bin")},
      {"the real file", Q(real_file), Q(dir.path())},
  };
  for (const auto& start : starts) {
    SCOPED_TRACE(start.how);
    const Result installed = kestrow(start.command, QStringLiteral("/install"), start.directory);
    ASSERT_EQ(installed.status, kExitSuccess) << installed.output;
    const std::string text = ReadFileBytes(services / "KESTROWSVC.service");
    EXPECT_NE(text.find("\n" + record), std::string::npos) << text;
    const Result removed = kestrow(start.command, QStringLiteral("/remove"), start.directory);
    EXPECT_EQ(removed.status, kExitSuccess) << removed.output;
  }

  const uint16_t port = remote_test::FreePort();
  ASSERT_NE(port, 0);
  std::ofstream(P("lib/sorvel/kestrow.INI")) << "[MAIN]\nLISTENINGPORT=" << port << "\n[DRIVES]\nD:=1\n";
  platform::FileServiceManager manager(services);
  const QString link = QP("bin/kestrow");
  ASSERT_EQ(kestrow(link, QStringLiteral("/install"), Q(dir.path())).status, kExitSuccess);
  const Result started = kestrow(link, QStringLiteral("/start"), Q(dir.path()));
  EXPECT_EQ(started.status, kExitControlReached) << started.output;
  const int pid = manager.RunningPid("KESTROWSVC");
  EXPECT_GT(pid, 0);
  if (pid > 0) {
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe"), real_file);
  }
  bool serving = false;
  for (int i = 0; i < 200 && !serving; ++i) {
    serving = remote_test::Connects(port);
    if (!serving) usleep(10000);
  }
  EXPECT_TRUE(serving) << "nothing listens on the port of lib/sorvel/kestrow.INI";
  const Result stopped = kestrow(link, QStringLiteral("/stop"), Q(dir.path()));
  EXPECT_EQ(stopped.status, kExitControlReached) << stopped.output;
  EXPECT_EQ(kestrow(link, QStringLiteral("/remove"), Q(dir.path())).status, kExitSuccess);
  // Never leave a daemon behind, whatever failed.
  const int left = manager.RunningPid("KESTROWSVC");
  if (left > 0 && left != getpid()) kill(left, SIGKILL);
  fs::remove(P("lib/sorvel/kestrow.INI"));
}

}  // namespace
}  // namespace sorvel
