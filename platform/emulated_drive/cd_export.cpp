// Export of an emulated CD as BIN/CUE with a .sub side file (96 bytes a
// sector, channels P to W one after the other) and a .cdt with the CD-Text
// packs, for independent tools to read.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/soft_mmc_drive.h"

namespace sorvel::platform::emu {

namespace {

std::string CueTime(int32_t frames) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", frames / 4500, (frames / 75) % 60, frames % 75);
  return buffer;
}

}  // namespace

bool SoftMmcDrive::ExportCd(const std::string& cue_path, std::string* error) {
  MediaState state = media();
  if (MediaFamily(state.profile) != 1 || state.layout.tracks.empty()) {
    if (error) *error = "the drive holds no recorded CD";
    return false;
  }
  namespace fs = std::filesystem;
  fs::path cue(cue_path);
  fs::path bin = fs::path(cue).replace_extension(".bin");
  fs::path sub = fs::path(cue).replace_extension(".sub");
  fs::path cdt = fs::path(cue).replace_extension(".cdt");
  std::ofstream bin_out(bin, std::ios::binary | std::ios::trunc);
  std::ofstream sub_out(sub, std::ios::binary | std::ios::trunc);
  if (!bin_out || !sub_out) {
    if (error) *error = "cannot create " + bin.string();
    return false;
  }
  std::ostringstream text;
  if (!state.layout.mcn.empty()) text << "CATALOG " << state.layout.mcn << "\r\n";
  if (!state.layout.cdtext.empty()) {
    std::ofstream cdt_out(cdt, std::ios::binary | std::ios::trunc);
    for (const auto& p : state.layout.cdtext) cdt_out.write(reinterpret_cast<const char*>(p.data()), 18);
    if (!cdt_out) {
      if (error) *error = "cannot write " + cdt.string();
      return false;
    }
    text << "CDTEXTFILE \"" << cdt.filename().string() << "\"\r\n";
  }
  text << "FILE \"" << bin.filename().string() << "\" BINARY\r\n";
  int64_t file_frames = 0;
  int current_session = 0;
  for (const auto& session : state.layout.sessions) {
    for (const auto& t : state.layout.tracks) {
      if (t.session != session.number) continue;
      if (state.layout.sessions.size() > 1 && t.session != current_session) {
        char line[32];
        std::snprintf(line, sizeof line, "REM SESSION %02d\r\n", t.session);
        text << line;
        current_session = t.session;
      }
      // The first track's pregap before LBA 0 is not part of the image.
      int32_t first = std::max(t.pregap_start, 0);
      if (t.number == state.layout.tracks.front().number) first = std::max(first, 0);
      const char* mode = t.mode == 0 ? "AUDIO" : (t.mode == 1 ? "MODE1/2352" : "MODE2/2352");
      char line[64];
      std::snprintf(line, sizeof line, "  TRACK %02d %s\r\n", t.number, mode);
      text << line;
      std::string flags;
      if (t.control & 0x2) flags += " DCP";
      if (t.control & 0x8) flags += " 4CH";
      if (t.control & 0x1) flags += " PRE";
      if (!flags.empty()) text << "    FLAGS" << flags << "\r\n";
      if (!t.isrc.empty()) text << "    ISRC " << t.isrc << "\r\n";
      if (first < t.start) text << "    INDEX 00 " << CueTime(static_cast<int32_t>(file_frames)) << "\r\n";
      text << "    INDEX 01 " << CueTime(static_cast<int32_t>(file_frames + t.start - first)) << "\r\n";
      for (size_t i = 0; i < t.index_starts.size(); ++i) {
        std::snprintf(line, sizeof line, "    INDEX %02zu ", i + 2);
        text << line << CueTime(static_cast<int32_t>(file_frames + t.index_starts[i] - first)) << "\r\n";
      }
      for (int32_t lba = first; lba < t.end; ++lba) {
        uint8_t main[2352], subchannel[96];
        if (!ReadCdSector(lba, main, subchannel, error)) return false;
        bin_out.write(reinterpret_cast<const char*>(main), sizeof main);
        sub_out.write(reinterpret_cast<const char*>(subchannel), sizeof subchannel);
      }
      file_frames += t.end - first;
    }
  }
  bin_out.close();
  sub_out.close();
  if (!bin_out || !sub_out) {
    if (error) *error = "cannot write " + bin.string();
    return false;
  }
  std::ofstream cue_out(cue, std::ios::binary | std::ios::trunc);
  cue_out << text.str();
  cue_out.close();
  if (!cue_out) {
    if (error) *error = "cannot write " + cue.string();
    return false;
  }
  return true;
}

}  // namespace sorvel::platform::emu
