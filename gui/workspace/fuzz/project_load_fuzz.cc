// Fuzz target: a whole project file applied to the real main window
// (offscreen, real mastering engine): its lines name data files, folders,
// WAV, MP3 and playlist files under the fixture folder or anywhere. Whatever
// the file holds, loading ends with at most 99 tracks, and the layout saved,
// loaded and saved again writes the same project file.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "gui/workspace/fuzz/main_form_rig.h"

namespace {

using sorvel::fuzz::Check;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sorvel::fuzz::TheMainForm();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sorvel::fuzz;
  sorvel::MainForm& form = TheMainForm();
  const std::string folder = ScratchFolder();
  WriteFile(folder + "/in.wpj", std::string(reinterpret_cast<const char*>(data), size));
  if (!form.FileProjectLoad(QString::fromStdString(folder + "/in.wpj"))) return 0;
  SettleMainForm();
  Check(form.mobjImageFile().GetTrackCount() <= 99);
  if (!form.SaveProject(QString::fromStdString(folder + "/once.wpj"))) return 0;
  const std::string once = ReadAll(folder + "/once.wpj");
  Check(form.FileProjectLoad(QString::fromStdString(folder + "/once.wpj")));
  SettleMainForm();
  Check(form.SaveProject(QString::fromStdString(folder + "/twice.wpj")));
  Check(ReadAll(folder + "/twice.wpj") == once);
  return 0;
}
