// The sorvel program as a user starts it from a shell: under Xvfb, with an
// image on its command line and an emulated drive, the write-image dialog
// driven by key presses (xdotool). Its standard output carries the engines'
// diagnostic lines only when SORVEL_DEBUG=1 asks for them.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/disc_read_form.h"
#include "gui/dialogs/drive_panel.h"
#include "testing/file_bytes.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

// Starts sorvel on `image` in its folder, presses 開始(&S), answers the result
// box with Enter and ends the dialog with 終了(&Q); every wait is bounded. The
// program's standard output lands in `out`, its standard error in `err`.
// Returns the script's exit status (0 when the program ended by itself).
int RunSorvelWrite(const fs::path& dir, const std::string& drive_map, const fs::path& image, bool debug,
                   const fs::path& out, const fs::path& err) {
  const fs::path script = dir / "drive-sorvel.sh";
  testing::WriteFileBytes(script, R"SH(
set -u
cd "$IMAGE_DIR"
"$SORVEL" "$IMAGE" > "$OUT" 2> "$ERR" &
program=$!
windows() { xdotool search --onlyvisible --name '^Sorvel$' 2>/dev/null; }
# Waits (at most $2 tenths of a second) until `windows` lists $1 windows.
wait_for() {
  i=0
  while [ "$(windows | wc -l)" -ne "$1" ]; do
    i=$((i + 1)); [ $i -gt "$2" ] && return 1
    kill -0 $program 2>/dev/null || return 1
    sleep 0.1
  done
}
press() { xdotool windowfocus "$1" 2>/dev/null; sleep 0.2; xdotool key --window "$1" "$2" 2>/dev/null; }
wait_for 1 600 || { kill $program; exit 2; }
dialog=$(windows | head -1)
press "$dialog" alt+s
wait_for 2 3000 || { kill $program; exit 3; }
box=$(windows | grep -v "^$dialog\$" | head -1)
press "$box" Return
wait_for 1 600 || { kill $program; exit 4; }
press "$dialog" alt+q
i=0
while kill -0 $program 2>/dev/null; do
  i=$((i + 1)); [ $i -gt 600 ] && { kill $program; exit 5; }
  sleep 0.1
done
wait $program
)SH");
  const std::string env = std::string("SORVEL='") + testing::BuiltLibraryPath("sorvel") + "' IMAGE_DIR='" +
                          image.parent_path().string() + "' IMAGE='" + image.filename().string() + "' OUT='" +
                          out.string() + "' ERR='" + err.string() + "' SORVEL_DRIVES='" + drive_map + "' " +
                          "XDG_CONFIG_HOME='" + (dir / "config").string() + "' QT_QPA_PLATFORM=xcb " +
                          (debug ? "SORVEL_DEBUG=1 " : "SORVEL_DEBUG= ");
  return RunCommand("env " + env + "timeout 400 sh '" + (testing::SourceTree() / "testing" / "run_under_xvfb.sh").string() +
                    "' 1280x1024x24 sh '" + script.string() + "'");
}

struct OutputCase {
  const char* name;
  bool debug;
};

class SorvelProgramTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(SorvelProgramTest, StandardOutputCarriesEngineLinesOnlyWhenDebugging) {
  for (const char* tool : {"Xvfb", "xdotool", "genisoimage"}) ASSERT_TRUE(testing::RequireTool(tool));
  testing::ScratchDir dir;
  fs::create_directories(dir / "images" / "root");
  testing::WriteFileBytes(dir / "images" / "root" / "data.bin", std::string(300000, '\x5A'));
  ASSERT_EQ(RunCommand("genisoimage -quiet -r -J -o '" + (dir / "images" / "disc.iso").string() + "' '" +
                       (dir / "images" / "root").string() + "'"),
            0);
  const std::string state = (dir / "d.state").string();
  const std::string map = "D:=emu:" + state + ",medium=dvd-r";
  const fs::path out = dir / "out.txt", err = dir / "err.txt";
  ASSERT_EQ(RunSorvelWrite(dir.path(), map, dir / "images" / "disc.iso", GetParam().debug, out, err), 0)
      << testing::ReadFileBytes(err);
  const std::string printed = testing::ReadFileBytes(out);
  if (GetParam().debug) {
    EXPECT_NE(printed.find("IsReady returned 00\n"), std::string::npos) << printed.substr(0, 2000);
  } else {
    EXPECT_EQ(printed, "");
  }

  // The disc was written: it reads back as the image.
  testing::DialogTestEnvironment environment(dir);
  testing::ScopedDriveMap drives(map);
  testing::ScriptedModalUi ui;
  DiscReadForm reader;
  reader.fraSend()->eject_button(1)->click();  // the tray opened after the write
  fs::create_directories(dir / "back");
  reader.txtWriteFile()->setText(QString::fromStdString((dir / "back" / "Disc.img").string()));
  reader.cmdStartStop()->click();
  ASSERT_EQ(ui.LastText(), QStringLiteral("読み込みは正常終了しました。"));
  EXPECT_EQ(RunCommand("cmp '" + (dir / "images" / "disc.iso").string() + "' '" + (dir / "back" / "Disc.iso").string() +
                       "'"),
            0);
  reader.cmdEnd()->click();
}

INSTANTIATE_TEST_SUITE_P(Debug, SorvelProgramTest,
                         ::testing::Values(OutputCase{"Quiet", false}, OutputCase{"Debug", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorvel
