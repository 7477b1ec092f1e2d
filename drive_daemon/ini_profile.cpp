#include "drive_daemon/ini_profile.h"

#include <cstdio>
#include <memory>

#include "platform/regular_file.h"

namespace sorvel {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The next line of `text` from `*at` without its end (CR LF, CR or LF; CR LF
// reads as a line and an empty one), cut at kMaxLineLength characters; false
// at the end of the text.
bool ReadLine(const std::string& text, size_t* at, std::string* line) {
  line->clear();
  if (*at >= text.size()) return false;
  while (*at < text.size() && text[*at] != '\n' && text[*at] != '\r') {
    if (line->size() < IniProfile::kMaxLineLength) line->push_back(text[*at]);
    ++*at;
  }
  if (*at < text.size()) ++*at;
  return true;
}

}  // namespace

bool IniProfile::Load(const std::string& path, platform::FileProblem* problem) {
  std::string text;
  if (!platform::ReadRegularFile(path, platform::kMaxSettingsFileBytes, &text, problem)) return false;
  Clear();
  std::string section;
  std::string line;
  size_t at = 0;
  bool first = true;
  while (ReadLine(text, &at, &line)) {
    if (first && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);  // UTF-8 byte order mark
    first = false;
    if (line.size() <= 3) continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == line.size()) continue;
    Set(section, line.substr(0, eq), line.substr(eq + 1));
  }
  return true;
}

bool IniProfile::Save(const std::string& path) const {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const std::string* previous = nullptr;
  for (const auto& [full_key, entry] : entries_) {
    if (previous == nullptr || *previous != entry.section) {
      if (previous != nullptr) std::fputs("\r\n", file.get());
      std::fprintf(file.get(), "[%s]\r\n", entry.section.c_str());
      previous = &entry.section;
    }
    std::fprintf(file.get(), "%s=%s\r\n", entry.key.c_str(), entry.value.c_str());
  }
  bool ok = std::ferror(file.get()) == 0;
  return std::fclose(file.release()) == 0 && ok;
}

std::string IniProfile::Get(const std::string& section, const std::string& key) const {
  auto it = entries_.find(FullKey(section, key));
  return it == entries_.end() ? std::string() : it->second.value;
}

void IniProfile::Set(const std::string& section, const std::string& key, const std::string& value) {
  entries_[FullKey(section, key)] = Entry{section, key, value};
}

void IniProfile::Remove(const std::string& section, const std::string& key) {
  if (!key.empty()) {
    entries_.erase(FullKey(section, key));
    return;
  }
  for (auto it = entries_.begin(); it != entries_.end();) {
    it = it->second.section == section ? entries_.erase(it) : std::next(it);
  }
}

}  // namespace sorvel
