#include "platform/emulated_drive/image_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/emulated_drive/cd_codec.h"
#include "platform/regular_file.h"
#include "platform/toc_extents.h"

namespace sorvel::platform::emu {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// A whole sheet or CD-Text file, without a UTF-8 byte order mark.
bool ReadText(const std::string& path, int64_t max_bytes, std::string* text, std::string* error) {
  FileProblem problem;
  if (!ReadRegularFile(path, max_bytes, text, &problem)) {
    if (error) *error = DescribeFileProblem(path, problem);
    return false;
  }
  if (text->size() >= 3 && static_cast<uint8_t>((*text)[0]) == 0xEF && static_cast<uint8_t>((*text)[1]) == 0xBB &&
      static_cast<uint8_t>((*text)[2]) == 0xBF) {
    text->erase(0, 3);
  }
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

// Splits a CUE line into words; a double-quoted word keeps its spaces.
std::vector<std::string> CueWords(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i >= line.size()) break;
    std::string w;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') w += line[i++];
      ++i;
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) w += line[i++];
    }
    words.push_back(w);
  }
  return words;
}

// The last address an MSF time can name: 99:59:74 is LBA 449849.
constexpr int64_t kLastMsfLba = kCdBounds.last_lba;

// A CD-Text file holds at most 8 blocks of 256 packs of 18 bytes, with an
// optional 4-byte header; anything much larger is not one.
constexpr int64_t kMaxCdTextFileBytes = 64 * 1024;

// "MM:SS:FF" with MM at most 99, the most a CD time can hold.
bool ParseCueTime(const std::string& text, int32_t* frames) {
  int m = 0, s = 0, f = 0;
  char c1 = 0, c2 = 0;
  std::istringstream in(text);
  if (!(in >> m >> c1 >> s >> c2 >> f) || c1 != ':' || c2 != ':' || m < 0 || m > 99 || s < 0 || s > 59 || f < 0 ||
      f > 74) {
    return false;
  }
  *frames = m * 4500 + s * 75 + f;
  return true;
}

// The size of an image file, which must be a regular file.
uint64_t FileSize(const std::string& path, std::string* error) {
  FileProblem problem;
  const int fd = OpenRegularFile(path, O_RDONLY, &problem);
  struct stat st {};
  const bool known = fd >= 0 && ::fstat(fd, &st) == 0;
  if (fd >= 0) ::close(fd);
  if (!known) {
    if (error) *error = fd < 0 ? DescribeFileProblem(path, problem) : "cannot open " + path;
    return UINT64_MAX;
  }
  return static_cast<uint64_t>(st.st_size);
}

bool LoadIso(const std::string& path, uint16_t profile, MediaState* state, std::string* error) {
  uint64_t size = FileSize(path, error);
  if (size == UINT64_MAX) return false;
  if (size == 0 || size % 2048 != 0) {
    if (error) *error = path + " is not a whole number of 2048-byte sectors";
    return false;
  }
  const TocExtent whole{1, 1, 1, 0, static_cast<int64_t>(size / 2048) - 1};
  if (!CheckTocExtents({&whole, 1}, MediaFamily(profile) == 1 ? kCdBounds : kAnyDiscBounds).ok()) {
    if (error) *error = path + " holds more sectors than the medium can";
    return false;
  }
  int32_t sectors = static_cast<int32_t>(size / 2048);
  SectorExtent e;
  e.first_lba = 0;
  e.count = sectors;
  e.path = path;
  e.stride = 2048;
  e.main_size = 2048;
  state->extents = {e};
  state->capacity = sectors;
  state->next_writable = sectors;
  if (MediaFamily(profile) == 1) {
    CdTrack t;
    t.number = 1;
    t.control = 0x4;
    t.mode = 1;
    t.pregap_start = -150;
    t.start = 0;
    t.end = sectors;
    state->layout.tracks = {t};
    CdSession s;
    s.leadout = sectors;
    state->layout.sessions = {s};
  }
  return true;
}

bool LoadCdTextFile(const std::string& path, std::vector<CdTextPack>* packs, std::string* error) {
  std::string data;
  if (!ReadText(path, kMaxCdTextFileBytes, &data, error)) return false;
  size_t start = 0;
  // Some writers put a 4-byte length header (and a trailing zero) before the packs.
  if (data.size() % 18 != 0 && data.size() >= 4) {
    if ((data.size() - 4) % 18 == 0 || (data.size() - 5) % 18 == 0) start = 4;
  }
  for (size_t i = start; i + 18 <= data.size(); i += 18) {
    CdTextPack p;
    std::copy(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + 18), p.begin());
    if (p[0] >= 0x80 && p[0] <= 0x8F) packs->push_back(p);
  }
  if (packs->empty()) {
    if (error) *error = path + " holds no CD-Text packs";
    return false;
  }
  return true;
}

struct CueTrackDraft {
  CdTrack track;
  size_t file = 0;
  uint32_t sector_size = 2352;
  int32_t pregap_frames = 0;                 // PREGAP: generated, not in the file
  std::map<int, int32_t> index_file_frames;  // index -> frame in its file
};

bool LoadCue(const std::string& cue_path, MediaState* state, std::string* error) {
  std::string text;
  if (!ReadText(cue_path, kMaxSheetFileBytes, &text, error)) return false;
  fs::path dir = fs::absolute(fs::path(cue_path)).parent_path();
  std::vector<std::string> files;
  std::vector<CueTrackDraft> drafts;
  std::string cdtext_file;
  int session = 1;
  int line_no = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = cue_path + " line " + std::to_string(line_no) + ": " + why;
    return false;
  };
  for (const std::string& line : Lines(text)) {
    ++line_no;
    auto w = CueWords(line);
    if (w.empty()) continue;
    std::string cmd = Upper(w[0]);
    if (cmd == "REM") {
      if (w.size() >= 3 && Upper(w[1]) == "SESSION") session = std::max(1, std::atoi(w[2].c_str()));
    } else if (cmd == "FILE") {
      if (w.size() < 3) return fail("FILE needs a name and a type");
      std::string type = Upper(w[2]);
      if (type != "BINARY" && type != "MOTOROLA") return fail("only BINARY files are supported");
      files.push_back((dir / w[1]).string());
    } else if (cmd == "CATALOG") {
      if (w.size() < 2 || w[1].size() != 13 || !std::all_of(w[1].begin(), w[1].end(), ::isdigit)) {
        return fail("CATALOG needs 13 digits");
      }
      state->layout.mcn = w[1];
    } else if (cmd == "CDTEXTFILE") {
      if (w.size() < 2) return fail("CDTEXTFILE needs a name");
      cdtext_file = (dir / w[1]).string();
    } else if (cmd == "TRACK") {
      if (files.empty()) return fail("TRACK before FILE");
      if (w.size() < 3) return fail("TRACK needs a number and a mode");
      CueTrackDraft d;
      d.track.number = std::atoi(w[1].c_str());
      if (d.track.number < 1 || d.track.number > 99) return fail("bad track number");
      if (!drafts.empty() && d.track.number != drafts.back().track.number + 1) return fail("track numbers must ascend by 1");
      d.track.session = session;
      d.file = files.size() - 1;
      std::string mode = Upper(w[2]);
      if (mode == "AUDIO") {
        d.track.mode = 0;
      } else if (mode == "MODE1/2352") {
        d.track.mode = 1;
      } else if (mode == "MODE1/2048") {
        d.track.mode = 1;
        d.sector_size = 2048;
      } else if (mode == "MODE2/2352") {
        d.track.mode = 2;
      } else {
        return fail("unsupported track mode " + w[2]);
      }
      if (d.track.mode != 0) d.track.control = 0x4;
      drafts.push_back(d);
    } else if (cmd == "INDEX") {
      if (drafts.empty() || w.size() < 3) return fail("INDEX outside a track");
      int number = std::atoi(w[1].c_str());
      int32_t frames = 0;
      if (number < 0 || number > 99 || !ParseCueTime(w[2], &frames)) return fail("bad INDEX");
      if (drafts.back().file != files.size() - 1 && number != 0) return fail("INDEX in another file than its track");
      drafts.back().index_file_frames[number] = frames;
    } else if (cmd == "PREGAP") {
      int32_t frames = 0;
      if (drafts.empty() || w.size() < 2 || !ParseCueTime(w[1], &frames)) return fail("bad PREGAP");
      drafts.back().pregap_frames = frames;
    } else if (cmd == "FLAGS") {
      if (drafts.empty()) return fail("FLAGS outside a track");
      for (size_t i = 1; i < w.size(); ++i) {
        std::string f = Upper(w[i]);
        if (f == "DCP") drafts.back().track.control |= 0x2;
        if (f == "4CH") drafts.back().track.control |= 0x8;
        if (f == "PRE") drafts.back().track.control |= 0x1;
      }
    } else if (cmd == "ISRC") {
      if (drafts.empty() || w.size() < 2 || w[1].size() != 12) return fail("bad ISRC");
      uint8_t check[8];
      if (!EncodeIsrcQ(Upper(w[1]), check)) return fail("bad ISRC");
      drafts.back().track.isrc = Upper(w[1]);
    }
    // TITLE, PERFORMER, SONGWRITER, POSTGAP and unknown lines are ignored.
  }
  if (drafts.empty()) return fail("no tracks");
  // File sizes in sectors; one sector size per file.
  std::vector<int64_t> file_sectors(files.size(), 0);
  for (size_t f = 0; f < files.size(); ++f) {
    uint32_t size = 0;
    for (const auto& d : drafts) {
      if (d.file != f) continue;
      if (size != 0 && size != d.sector_size) return fail("mixed sector sizes in one file");
      size = d.sector_size;
    }
    if (size == 0) continue;
    uint64_t bytes = FileSize(files[f], error);
    if (bytes == UINT64_MAX) return false;
    file_sectors[f] = static_cast<int64_t>(bytes / size);
  }
  // Place the tracks on the disc.
  int32_t shift = 0;        // disc LBA of frame 0 of the current file
  size_t current_file = 0;
  int32_t file_base = 0;
  int current_session = 1;
  int32_t previous_end = 0;  // LBA just after the previous track's data
  state->layout.tracks.clear();
  state->extents.clear();
  for (size_t i = 0; i < drafts.size(); ++i) {
    CueTrackDraft& d = drafts[i];
    if (!d.index_file_frames.count(1)) return fail("track " + std::to_string(d.track.number) + " has no INDEX 01");
    if (d.file != current_file) {
      file_base = previous_end;
      current_file = d.file;
      shift = file_base;
    }
    int32_t first_frame = d.index_file_frames.count(0) ? d.index_file_frames[0] : d.index_file_frames[1];
    if (d.track.session != current_session) {
      // A later session starts after the lead-out, the next lead-in and a pregap.
      CdSession s;
      s.number = current_session;
      s.leadout = previous_end;
      state->layout.sessions.push_back(s);
      int32_t target = NextSessionTrackStart(previous_end, current_session == 1);
      // Without INDEX 00 the session's first pregap is generated.
      if (!d.index_file_frames.count(0) && d.pregap_frames == 0) d.pregap_frames = 150;
      shift = target - d.index_file_frames[1] - d.pregap_frames;
      current_session = d.track.session;
    }
    shift += d.pregap_frames;
    d.track.start = shift + d.index_file_frames[1];
    d.track.pregap_start = d.index_file_frames.count(0) ? shift + d.index_file_frames[0] : d.track.start - d.pregap_frames;
    for (const auto& [number, frames] : d.index_file_frames) {
      if (number < 2) continue;
      if (static_cast<size_t>(number - 2) != d.track.index_starts.size()) return fail("indexes must ascend by 1");
      d.track.index_starts.push_back(shift + frames);
    }
    if (i == 0 && d.track.pregap_start > -150) d.track.pregap_start = -150;
    // The track's data runs to the next track's first frame in this file, or to the file end.
    int32_t last_frame = static_cast<int32_t>(std::min<int64_t>(file_sectors[d.file], kLastMsfLba + 151));
    if (i + 1 < drafts.size() && drafts[i + 1].file == d.file) {
      const auto& n = drafts[i + 1].index_file_frames;
      if (!n.count(1)) return fail("track " + std::to_string(drafts[i + 1].track.number) + " has no INDEX 01");
      last_frame = n.count(0) ? n.at(0) : n.at(1);
    }
    if (last_frame <= first_frame) return fail("track " + std::to_string(d.track.number) + " has no data");
    SectorExtent e;
    e.first_lba = shift + first_frame;
    e.count = last_frame - first_frame;
    e.path = files[d.file];
    e.offset = static_cast<uint64_t>(first_frame) * d.sector_size;
    e.stride = d.sector_size;
    e.main_size = d.sector_size;
    state->extents.push_back(e);
    previous_end = e.first_lba + e.count;
    state->layout.tracks.push_back(d.track);
  }
  CdSession last;
  last.number = current_session;
  last.leadout = previous_end;
  state->layout.sessions.push_back(last);
  for (auto& s : state->layout.sessions) {
    bool any = false;
    for (const auto& t : state->layout.tracks) {
      if (t.session != s.number) continue;
      if (!any) s.first_track = t.number;
      s.last_track = t.number;
      any = true;
      if (t.mode == 2) s.disc_type = 0x20;
    }
    if (!any) return fail("empty session");
  }
  state->layout.FixTrackEnds();
  if (!cdtext_file.empty() && !LoadCdTextFile(cdtext_file, &state->layout.cdtext, error)) return false;
  state->capacity = previous_end;
  return true;
}

using IniSections = std::map<std::string, std::map<std::string, std::string>>;

IniSections ParseIni(const std::string& text) {
  IniSections sections;
  std::string current;
  for (std::string line : Lines(text)) {
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    line = line.substr(start);
    if (line[0] == '[') {
      current = Lower(line.substr(1, line.find(']') - 1));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Lower(line.substr(0, eq));
    while (!key.empty() && key.back() == ' ') key.pop_back();
    sections[current][key] = line.substr(eq + 1);
  }
  return sections;
}

long IniNumber(const std::map<std::string, std::string>& section, const std::string& key, long fallback) {
  auto it = section.find(key);
  if (it == section.end()) return fallback;
  return std::strtol(it->second.c_str(), nullptr, 0);
}

bool LoadCcd(const std::string& ccd_path, MediaState* state, std::string* error) {
  std::string text;
  if (!ReadText(ccd_path, kMaxSheetFileBytes, &text, error)) return false;
  IniSections ini = ParseIni(text);
  fs::path base = fs::absolute(fs::path(ccd_path));
  std::string img = fs::path(base).replace_extension(".img").string();
  std::string sub = fs::path(base).replace_extension(".sub").string();
  uint64_t img_bytes = FileSize(img, error);
  if (img_bytes == UINT64_MAX) return false;
  uint64_t sub_bytes = FileSize(sub, error);
  if (sub_bytes == UINT64_MAX) return false;
  int64_t sectors = static_cast<int64_t>(img_bytes / 2352);
  if (sectors == 0 || static_cast<int64_t>(sub_bytes / 96) < sectors) {
    if (error) *error = ccd_path + ": the .sub file is shorter than the .img file";
    return false;
  }
  auto fail = [&](const std::string& why) {
    if (error) *error = ccd_path + ": " + why;
    return false;
  };
  CdLayout layout;
  std::map<int, CdSession> sessions;
  for (const auto& [name, entry] : ini) {
    if (name.rfind("entry ", 0) != 0) continue;
    int session_no = static_cast<int>(IniNumber(entry, "session", 1));
    int point = static_cast<int>(IniNumber(entry, "point", -1));
    int adr = static_cast<int>(IniNumber(entry, "adr", 1));
    uint8_t control = static_cast<uint8_t>(IniNumber(entry, "control", 0) & 0x0F);
    long plba = IniNumber(entry, "plba", 0);
    if (adr != 1) continue;
    CdSession& s = sessions[session_no];
    s.number = session_no;
    if (point == 0xA0) {
      s.first_track = static_cast<int>(IniNumber(entry, "pmin", 1));
      s.disc_type = static_cast<uint8_t>(IniNumber(entry, "psec", 0));
    } else if (point == 0xA1) {
      s.last_track = static_cast<int>(IniNumber(entry, "pmin", 1));
    } else if (point == 0xA2) {
      if (plba <= 0 || plba > kLastMsfLba) return fail("lead-out PLBA out of range");
      s.leadout = static_cast<int32_t>(plba);
    } else if (point >= 1 && point <= 99) {
      if (plba < 0 || plba > kLastMsfLba) return fail("track " + std::to_string(point) + " PLBA out of range");
      CdTrack t;
      t.number = point;
      t.session = session_no;
      t.control = control;
      t.start = static_cast<int32_t>(plba);
      t.pregap_start = t.start;
      layout.tracks.push_back(t);
    }
  }
  if (layout.tracks.empty() || sessions.empty()) return fail("no TOC entries");
  for (auto& t : layout.tracks) {
    auto it = ini.find("track " + std::to_string(t.number));
    if (it != ini.end()) {
      long mode = IniNumber(it->second, "mode", t.IsData() ? 1 : 0);
      if (mode < 0 || mode > 2) return fail("track " + std::to_string(t.number) + " has an unknown mode");
      t.mode = static_cast<int>(mode);
      long index0 = IniNumber(it->second, "index 0", t.start);
      if (index0 < kCdBounds.first_lba || index0 > kCdBounds.last_lba) {
        return fail("track " + std::to_string(t.number) + " INDEX 0 out of range");
      }
      t.pregap_start = static_cast<int32_t>(index0);
      for (int n = 2; n < 100; ++n) {
        long v = IniNumber(it->second, "index " + std::to_string(n), LONG_MIN);
        if (v == LONG_MIN) break;
        if (v < kCdBounds.first_lba || v > kCdBounds.last_lba) {
          return fail("track " + std::to_string(t.number) + " INDEX " + std::to_string(n) + " out of range");
        }
        t.index_starts.push_back(static_cast<int32_t>(v));
      }
      auto isrc = it->second.find("isrc");
      if (isrc != it->second.end() && isrc->second.size() == 12) t.isrc = isrc->second;
    } else {
      t.mode = t.IsData() ? 1 : 0;
    }
  }
  std::sort(layout.tracks.begin(), layout.tracks.end(), [](const CdTrack& a, const CdTrack& b) { return a.number < b.number; });
  if (layout.tracks.front().pregap_start > -150) layout.tracks.front().pregap_start = -150;
  for (auto& [n, s] : sessions) {
    if (s.leadout <= 0) return fail("session " + std::to_string(n) + " has no lead-out");
    layout.sessions.push_back(s);
  }
  auto disc = ini.find("disc");
  if (disc != ini.end()) {
    auto catalog = disc->second.find("catalog");
    if (catalog != disc->second.end() && catalog->second.size() == 13) layout.mcn = catalog->second;
  }
  layout.FixTrackEnds();
  // The image maps LBA 0 on: it must reach the last lead-out.
  if (sectors < layout.LastLeadout()) return fail("the .img file is shorter than the disc");
  SectorExtent e;
  e.first_lba = 0;
  e.count = static_cast<int32_t>(sectors);
  e.path = img;
  e.stride = 2352;
  e.main_size = 2352;
  e.sub_path = sub;
  state->extents = {e};
  state->layout = layout;
  state->capacity = layout.LastLeadout();
  return true;
}

// The loaded disc's TOC, every index of every track, checked whole as the
// descriptor readers check theirs.
bool CheckLoadedToc(const MediaState& state, const std::string& path, std::string* error) {
  std::vector<TocExtent> extents;
  // A sheet's session numbers are labels ("REM SESSION 99" opens the
  // second one): sessions are counted in order.
  int64_t session = 0;
  int previous_label = 0;
  for (const CdTrack& t : state.layout.tracks) {
    if (session == 0 || t.session != previous_label) ++session;
    previous_label = t.session;
    if (t.pregap_start < t.start) extents.push_back({session, t.number, 0, t.pregap_start, int64_t{t.start} - 1});
    std::vector<int64_t> starts = {t.start};
    starts.insert(starts.end(), t.index_starts.begin(), t.index_starts.end());
    for (size_t j = 0; j < starts.size(); ++j) {
      const int64_t end = j + 1 < starts.size() ? starts[j + 1] - 1 : int64_t{t.end} - 1;
      extents.push_back({session, t.number, static_cast<int64_t>(j) + 1, starts[j], end});
    }
  }
  // A disc of another family carries no CD tracks; its extent was checked as it loaded.
  if (extents.empty()) return true;
  const TocCheck check = CheckTocExtents(extents, kCdBounds);
  if (check.ok()) return true;
  const TocExtent& at = extents[check.entry];
  if (error) {
    *error = path + ": track " + std::to_string(at.track) + " index " + std::to_string(at.index) +
             (IsStartFault(check.fault) ? " is out of order or out of range" : " does not end where it can");
  }
  return false;
}

}  // namespace

bool LoadDiscImage(const std::string& image_path, uint16_t profile, MediaState* state, std::string* error) {
  std::string path = fs::absolute(fs::path(image_path)).string();
  std::string ext = Lower(fs::path(path).extension().string());
  int family = MediaFamily(profile);
  bool ok = false;
  if (ext == ".iso") {
    ok = LoadIso(path, profile, state, error);
  } else if (ext == ".cue" || ext == ".ccd") {
    if (family != 1) {
      if (error) *error = "a CD image needs a CD medium";
      return false;
    }
    ok = ext == ".cue" ? LoadCue(path, state, error) : LoadCcd(path, state, error);
  } else {
    if (error) *error = "unknown image type " + ext + " (use .iso, .cue or .ccd)";
    return false;
  }
  if (!ok || !CheckLoadedToc(*state, path, error)) return false;
  state->status = DiscStatus::kComplete;
  state->pressed = true;
  state->formatted = NeedsFormatting(profile);
  return true;
}

}  // namespace sorvel::platform::emu
