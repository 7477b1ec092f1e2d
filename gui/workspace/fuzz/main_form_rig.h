// The main window the workspace fuzz targets work on: one real MainForm on the
// offscreen platform for the whole run, over the real mastering engine, with
// audio and data fixtures that their inputs (and the seed corpora) name by
// absolute path under kFixtureFolder.
#pragma once

#include <sys/stat.h>

#include <QCoreApplication>
#include <QSettings>
#include <string>

#include "gui/foundation/application_setting.h"
#include "gui/model/fuzz/gui_fuzz_rig.h"
#include "gui/model/tazol.h"
#include "gui/workspace/main_form.h"

namespace sorvel::fuzz {

inline constexpr char kFixtureFolder[] = "/tmp/sorvel-fuzz-fixtures";

inline MainForm& TheMainForm() {
  static MainForm* form = [] {
    StartOffscreenApplication();
    const std::string folder = kFixtureFolder;
    WriteFixture(folder, "a.wav", WaveBytes(2));
    WriteFixture(folder, "b.wav", WaveBytes(1));
    WriteFixture(folder, "short.wav", WaveBytes(1).substr(0, 60));
    WriteFixture(folder, "c.mp3", std::string("ID3\x03\x00\x00\x00\x00\x00\x00", 10) + std::string(600, '\xFF'));
    WriteFixture(folder, "n.m3u", folder + "/a.wav\r\n" + folder + "/b.wav\r\n");
    WriteFixture(folder, "loop.m3u", folder + "/loop.m3u\n" + folder + "/a.wav\n");
    WriteFixture(folder + "/data", "readme.txt", "hello");
    WriteFixture(folder + "/data/sub", "x.bin", std::string(5000, 'x'));
    ::mkfifo((folder + "/pipe.wav").c_str(), 0600);
    const QString scratch = QString::fromStdString(ScratchFolder());
    auto* settings = new ApplicationSetting(scratch + QStringLiteral("/sorvel.INI"));
    auto* store = new QSettings(scratch + QStringLiteral("/user.ini"), QSettings::IniFormat);
    auto* made = new MainForm(settings, store);
    made->show();
    QCoreApplication::processEvents();
    return made;
  }();
  return *form;
}

// Lets the window's change timers run.
inline void SettleMainForm() {
  for (int i = 0; i < 4; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace sorvel::fuzz
