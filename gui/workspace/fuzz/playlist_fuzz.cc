// Fuzz target: M3U expansion on the real main window (offscreen, real
// mastering engine). The playlist's lines name WAV, MP3 and playlist files
// under the fixture folder (a nested list, a list that names itself, a FIFO)
// or anything else. Expansion always ends, adds at most 99 tracks, and keeps
// a source for the tracks it added (one for each WAV file).
#include <cstddef>
#include <cstdint>
#include <string>

#include "gui/workspace/fuzz/main_form_rig.h"

using sorvel::fuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sorvel::fuzz::TheMainForm();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sorvel::fuzz;
  sorvel::MainForm& form = TheMainForm();
  form.ClearTracks();
  const std::string list = ScratchFolder() + "/in.m3u";
  WriteFile(list, std::string(reinterpret_cast<const char*>(data), size));
  form.AddAudioFile(QString::fromStdString(list));
  SettleMainForm();
  const int32_t tracks = form.mobjImageFile().GetTrackCount();
  Check(tracks >= 0 && tracks <= 99);
  Check(form.mobjSourceFiles().Count() <= tracks);
  return 0;
}
