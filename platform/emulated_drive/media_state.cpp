#include "platform/emulated_drive/media_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/regular_file.h"

namespace sorvel::platform::emu {

namespace {

struct MediumName {
  const char* name;
  uint16_t profile;
};

constexpr MediumName kMediumNames[] = {
    {"none", 0x00},      {"cd-rom", 0x08},  {"cd-r", 0x09},      {"cd-rw", 0x0A},    {"dvd-rom", 0x10},
    {"dvd-r", 0x11},     {"dvd-ram", 0x12}, {"dvd-rw", 0x14},    {"dvd+rw", 0x1A},   {"dvd+r", 0x1B},
    {"dvd+r-dl", 0x2B},  {"bd-rom", 0x40},  {"bd-r", 0x41},      {"bd-re", 0x43},    {"hddvd-rom", 0x50},
    {"hddvd-r", 0x51},
};

constexpr uint16_t kKnownProfiles[] = {0x08, 0x09, 0x0A, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x1A, 0x1B,
                                       0x2A, 0x2B, 0x40, 0x41, 0x42, 0x43, 0x50, 0x51, 0x52, 0x53, 0x58, 0x5A};

std::string Hex(const uint8_t* data, size_t length) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0x0F];
  }
  return out;
}

bool Unhex(const std::string& text, std::vector<uint8_t>* out) {
  if (text.size() % 2 != 0) return false;
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = value(text[i]), lo = value(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

// A signed number as a sign and `width` - 1 digits ("+0000000016"), so a
// new value takes exactly the bytes of the old one.
constexpr int kNwaFieldWidth = 20;
constexpr int kLbaFieldWidth = 11;
std::string FixedWidth(int64_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%+0*lld", width, static_cast<long long>(value));
  return text;
}

}  // namespace

uint16_t ProfileFromMediumName(const std::string& name, bool* ok) {
  *ok = true;
  for (const auto& m : kMediumNames) {
    if (name == m.name) return m.profile;
  }
  // Any other profile of the drive model by number, for example "0x15".
  if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
    char* end = nullptr;
    unsigned long value = std::strtoul(name.c_str() + 2, &end, 16);
    if (end && *end == 0) {
      for (uint16_t p : kKnownProfiles) {
        if (p == value) return p;
      }
    }
  }
  *ok = false;
  return 0;
}

int MediaFamily(uint16_t profile) {
  if (profile >= 0x08 && profile <= 0x0A) return 1;
  if (profile >= 0x10 && profile <= 0x2B) return 2;
  if (profile >= 0x40 && profile <= 0x43) return 3;
  if (profile >= 0x50 && profile <= 0x5A) return 4;
  return 0;
}

bool IsRomProfile(uint16_t profile) { return profile == 0x08 || profile == 0x10 || profile == 0x40 || profile == 0x50; }

bool IsRewritableProfile(uint16_t profile) {
  return profile == 0x0A || profile == 0x13 || profile == 0x14 || profile == 0x17 || profile == 0x53 || profile == 0x5A;
}

bool IsRandomWritableProfile(uint16_t profile) {
  return profile == 0x12 || profile == 0x13 || profile == 0x1A || profile == 0x2A || profile == 0x43 ||
         profile == 0x52 || profile == 0x5A;
}

bool NeedsFormatting(uint16_t profile) {
  return profile == 0x12 || profile == 0x13 || profile == 0x14 || profile == 0x1A || profile == 0x2A ||
         profile == 0x41 || profile == 0x43 || profile == 0x52;
}

int64_t DefaultCapacity(uint16_t profile) {
  switch (MediaFamily(profile)) {
    case 1: return 359849;  // 80 minutes, lead-out at 79:59:74
    case 2:
      if (profile == 0x15 || profile == 0x16 || profile == 0x2A || profile == 0x2B) return 4173824;
      return 2295104;
    case 3: return 12219392;
    case 4: return profile == 0x58 ? 14623744 : 7311872;
    default: return 0;
  }
}

std::vector<std::string> SplitFields(const std::string& text, char separator) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t at = text.find(separator, start);
    out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return out;
}

StateFile::~StateFile() {
  if (fd_ >= 0) ::close(fd_);
  if (lock_fd_ >= 0) {
    flock(lock_fd_, LOCK_UN);
    ::close(lock_fd_);
  }
}

bool StateFile::Open(const std::string& path, bool* existed, std::string* error) {
  FileProblem problem;
  // The lock lives beside the state: a saved state is a new file, and a
  // lock on the file it replaced would hold nothing.
  const std::string lock_path = path + ".lock";
  int lock_fd = OpenRegularFile(lock_path, O_RDWR | O_CREAT, &problem, 0644);
  if (lock_fd < 0) {
    if (error) *error = "emulated drive state: " + DescribeFileProblem(lock_path, problem);
    return false;
  }
  if (flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
    if (error) *error = "the emulated drive " + path + " is held by another user";
    ::close(lock_fd);
    return false;
  }
  // Opened only under the lock: the previous holder may have been saving a
  // moment ago.
  int fd = OpenRegularFile(path, O_RDWR | O_CREAT, &problem, 0644);
  if (fd < 0) {
    if (error) *error = "emulated drive state: " + DescribeFileProblem(path, problem);
    flock(lock_fd, LOCK_UN);
    ::close(lock_fd);
    return false;
  }
  struct stat st {};
  bool exists = ::fstat(fd, &st) == 0 && st.st_size > 0;
  path_ = path;
  fd_ = fd;
  lock_fd_ = lock_fd;
  if (existed) *existed = exists;
  return true;
}

bool StateFile::Load(MediaState* state, std::string* error) const {
  std::string text;
  FileProblem problem;
  if (::lseek(fd_, 0, SEEK_SET) != 0 || !ReadWholeFile(fd_, kMaxStateFileBytes, &text, &problem)) {
    if (error) *error = "emulated drive state: " + DescribeFileProblem(path_, problem);
    return false;
  }
  return ParseState(text, state, error);
}

bool StateFile::Save(const MediaState& state, std::string* error, bool sync) {
  const std::string text = SerializeState(state);
  const std::string next = path_ + ".new";
  auto fail = [&](const std::string& what, int fd) {
    if (error) *error = "cannot write state file " + path_ + ": " + what;
    if (fd >= 0) ::close(fd);
    ::unlink(next.c_str());
    return false;
  };
  // Only the holder of the lock writes the new file, so its name is fixed;
  // it is made afresh, so a link left at that name is never followed.
  FileProblem problem;
  if (::unlink(next.c_str()) != 0 && errno != ENOENT) return fail(std::strerror(errno), -1);
  int fd = OpenRegularFile(next, O_RDWR | O_CREAT | O_EXCL, &problem, 0644);
  if (fd < 0) return fail(DescribeFileProblem(next, problem), -1);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::strerror(errno), fd);
    }
    done += static_cast<size_t>(n);
  }
  if (sync && ::fsync(fd) != 0) return fail(std::strerror(errno), fd);
  if (::rename(next.c_str(), path_.c_str()) != 0) return fail(std::strerror(errno), fd);
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  auto field_at = [&](const char* key) -> int64_t {
    const size_t at = text.find(key);
    return at == std::string::npos ? -1 : static_cast<int64_t>(at + std::strlen(key));
  };
  nwa_at_ = field_at("\nnwa ");
  // The pass line holds its start, one blank, then its end.
  const int64_t pass_at = field_at("\npass ");
  pass_end_at_ = pass_at < 0 ? -1 : pass_at + kLbaFieldWidth + 1;
  return true;
}

bool StateFile::SaveWrittenExtent(const MediaState& state) {
  if (fd_ < 0 || nwa_at_ < 0 || (state.open_pass && pass_end_at_ < 0)) return false;
  auto put = [&](int64_t at, const std::string& field) {
    return ::pwrite(fd_, field.data(), field.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(field.size());
  };
  if (!put(nwa_at_, FixedWidth(state.next_writable, kNwaFieldWidth))) return false;
  return !state.open_pass || put(pass_end_at_, FixedWidth(state.pass_end, kLbaFieldWidth));
}

std::string SerializeState(const MediaState& s) {
  std::ostringstream o;
  o << "sorvel-emulated-drive 1\n";
  o << "profile " << s.profile << "\n";
  o << "tray " << s.tray_open << "\n";
  o << "lock " << s.locked << "\n";
  o << "status " << static_cast<int>(s.status) << "\n";
  o << "formatted " << s.formatted << "\n";
  o << "capacity " << s.capacity << "\n";
  // Fixed width: a write updates it in place (StateFile::SaveWrittenExtent).
  o << "nwa " << FixedWidth(s.next_writable, kNwaFieldWidth) << "\n";
  o << "reserved " << s.reserved_size << "\n";
  o << "pressed " << s.pressed << "\n";
  o << "vendor\t" << s.vendor << "\n";
  o << "product\t" << s.product << "\n";
  o << "revision\t" << s.revision << "\n";
  if (!s.layout.mcn.empty()) o << "mcn " << s.layout.mcn << "\n";
  for (const auto& x : s.layout.sessions) {
    o << "session " << x.number << " " << x.first_track << " " << x.last_track << " " << x.leadout << " "
      << static_cast<int>(x.disc_type) << "\n";
  }
  for (const auto& t : s.layout.tracks) {
    o << "track " << t.number << " " << t.session << " " << static_cast<int>(t.control) << " " << t.mode << " "
      << t.pregap_start << " " << t.start << " " << t.end << " " << (t.isrc.empty() ? "-" : t.isrc) << " "
      << t.index_starts.size();
    for (int32_t i : t.index_starts) o << " " << i;
    o << "\n";
  }
  if (!s.layout.cdtext.empty()) {
    o << "cdtext ";
    for (const auto& p : s.layout.cdtext) o << Hex(p.data(), p.size());
    o << "\n";
  }
  for (const auto& e : s.extents) {
    o << "extent\t" << e.first_lba << "\t" << e.count << "\t" << e.offset << "\t" << e.stride << "\t" << e.main_size
      << "\t" << e.sub_inline << "\t" << e.sub_offset << "\t" << e.path << "\t" << e.sub_path << "\n";
  }
  if (s.open_pass) {
    o << "pass " << FixedWidth(s.pass_start, kLbaFieldWidth) << " " << FixedWidth(s.pass_end, kLbaFieldWidth) << "\n";
  }
  return o.str();
}

bool ParseState(const std::string& text, MediaState* out, std::string* error) {
  MediaState s;
  std::istringstream in(text);
  std::string line;
  bool header = false;
  auto fail = [&](const std::string& why) {
    if (error) *error = "damaged state file: " + why;
    return false;
  };
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (!header) {
      if (line != "sorvel-emulated-drive 1") return fail("unknown header");
      header = true;
      continue;
    }
    if (line.rfind("vendor\t", 0) == 0) { s.vendor = line.substr(7); continue; }
    if (line.rfind("product\t", 0) == 0) { s.product = line.substr(8); continue; }
    if (line.rfind("revision\t", 0) == 0) { s.revision = line.substr(9); continue; }
    if (line.rfind("extent\t", 0) == 0) {
      auto f = SplitFields(line, '\t');
      if (f.size() != 10) return fail("extent");
      SectorExtent e;
      try {
        e.first_lba = std::stoi(f[1]);
        e.count = std::stoi(f[2]);
        e.offset = std::stoull(f[3]);
        e.stride = static_cast<uint32_t>(std::stoul(f[4]));
        e.main_size = static_cast<uint32_t>(std::stoul(f[5]));
        e.sub_inline = f[6] == "1";
        e.sub_offset = std::stoull(f[7]);
      } catch (...) {
        return fail("extent numbers");
      }
      e.path = f[8];
      e.sub_path = f[9];
      if (e.count < 0 || e.stride < e.main_size || (e.main_size != 2352 && e.main_size != 2048)) return fail("extent");
      s.extents.push_back(e);
      continue;
    }
    std::istringstream f(line);
    std::string key;
    f >> key;
    if (key == "profile") {
      f >> s.profile;
    } else if (key == "tray") {
      f >> s.tray_open;
    } else if (key == "lock") {
      f >> s.locked;
    } else if (key == "status") {
      int v = 0;
      f >> v;
      if (v < 0 || v > 2) return fail("status");
      s.status = static_cast<DiscStatus>(v);
    } else if (key == "formatted") {
      f >> s.formatted;
    } else if (key == "capacity") {
      f >> s.capacity;
    } else if (key == "nwa") {
      f >> s.next_writable;
    } else if (key == "reserved") {
      f >> s.reserved_size;
    } else if (key == "pressed") {
      f >> s.pressed;
    } else if (key == "pass") {
      f >> s.pass_start >> s.pass_end;
      if (s.pass_end < s.pass_start) return fail("pass");
      s.open_pass = true;
    } else if (key == "mcn") {
      f >> s.layout.mcn;
    } else if (key == "session") {
      CdSession x;
      int type = 0;
      f >> x.number >> x.first_track >> x.last_track >> x.leadout >> type;
      x.disc_type = static_cast<uint8_t>(type);
      s.layout.sessions.push_back(x);
    } else if (key == "track") {
      CdTrack t;
      int control = 0;
      size_t indexes = 0;
      f >> t.number >> t.session >> control >> t.mode >> t.pregap_start >> t.start >> t.end >> t.isrc >> indexes;
      if (indexes > 99) return fail("track");
      t.control = static_cast<uint8_t>(control);
      if (t.isrc == "-") t.isrc.clear();
      for (size_t i = 0; i < indexes; ++i) {
        int32_t v = 0;
        f >> v;
        t.index_starts.push_back(v);
      }
      s.layout.tracks.push_back(t);
    } else if (key == "cdtext") {
      std::string hex;
      f >> hex;
      std::vector<uint8_t> bytes;
      if (!Unhex(hex, &bytes) || bytes.size() % 18 != 0) return fail("cdtext");
      for (size_t i = 0; i < bytes.size(); i += 18) {
        CdTextPack p;
        std::memcpy(p.data(), bytes.data() + i, 18);
        s.layout.cdtext.push_back(p);
      }
    } else {
      return fail("unknown line " + key);
    }
    if (f.fail()) return fail("bad value for " + key);
  }
  if (!header) return fail("empty");
  // Every track lies in a session of the TOC, and every session holds a track.
  for (const auto& t : s.layout.tracks) {
    bool in_session = std::any_of(s.layout.sessions.begin(), s.layout.sessions.end(),
                                  [&](const CdSession& x) { return x.number == t.session; });
    if (t.number < 1 || t.number > 99 || !in_session) return fail("track " + std::to_string(t.number));
  }
  for (const auto& x : s.layout.sessions) {
    bool has_track = std::any_of(s.layout.tracks.begin(), s.layout.tracks.end(),
                                 [&](const CdTrack& t) { return t.session == x.number; });
    if (!has_track) return fail("session " + std::to_string(x.number) + " without tracks");
  }
  *out = std::move(s);
  return true;
}

}  // namespace sorvel::platform::emu
