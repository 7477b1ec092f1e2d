#include "mastering_engine/path_name.h"

#include <vector>

namespace sorvel {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string NormaliseDirectory(std::string_view dir) {
  if (dir.empty()) return {};
  char sep = '/';
  for (char c : dir) {
    if (IsSeparator(c)) {
      sep = c;
      break;
    }
  }
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || IsSeparator(dir[i])) {
      std::string_view part = dir.substr(start, i - start);
      start = i + 1;
      if (part.empty() || part == ".") continue;
      if (part == ".." && !parts.empty() && parts.back() != "..") {
        parts.pop_back();
        continue;
      }
      parts.push_back(part);
    }
  }
  std::string out;
  if (IsSeparator(dir[0])) out += sep;
  if (dir.size() > 1 && IsSeparator(dir[1])) out += sep;
  for (std::string_view part : parts) {
    out += part;
    out += sep;
  }
  return out;
}

// "*" matches any run (also empty), "?" exactly one byte.
bool WildMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

void PathName::SplitName(std::string_view name, std::string* base, std::string* extension) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    *base = name;
    extension->clear();
  } else {
    *base = name.substr(0, dot);
    *extension = name.substr(dot);
  }
}

void PathName::Set(std::string_view path) {
  drive_.clear();
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    drive_ = path.substr(0, 2);
    path.remove_prefix(2);
  }
  size_t name_start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) name_start = i + 1;
  }
  directory_ = NormaliseDirectory(path.substr(0, name_start));
  SplitName(path.substr(name_start), &base_, &extension_);
}

bool PathName::SetDrive(std::string_view text) {
  if (text.size() < 2 || !IsAsciiLetter(text[0]) || text[1] != ':') return false;
  drive_ = text.substr(0, 2);
  return true;
}

bool PathName::SetDirectory(std::string_view text) {
  if (!text.empty() && !IsSeparator(text.back())) return false;
  directory_ = text;
  return true;
}

bool PathName::SetExtension(std::string_view text) {
  if (!text.empty() && text[0] != '.') return false;
  extension_ = text;
  return true;
}

bool PathName::Matches(std::string_view patterns) const {
  size_t start = 0;
  while (start <= patterns.size()) {
    size_t bar = patterns.find('|', start);
    std::string_view one = patterns.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
    PathName pattern(one);
    bool ok = !one.empty();
    if (ok && !pattern.drive_.empty()) ok = WildMatch(pattern.drive_, drive_);
    if (ok && !pattern.directory_.empty()) ok = WildMatch(pattern.directory_, directory_);
    if (ok && !pattern.base_.empty()) ok = WildMatch(pattern.base_, base_);
    if (ok) {
      if (extension_.empty() || extension_ == ".") {
        ok = pattern.extension_.empty() || pattern.extension_ == ".*";
      } else if (pattern.extension_.size() > 1) {
        ok = WildMatch(pattern.extension_, extension_);
      } else {
        ok = pattern.extension_.empty() && pattern.base_ == "*";
      }
    }
    if (ok) return true;
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return false;
}

}  // namespace sorvel
