#include "gui/foundation/super_ini.h"

#include "gui/foundation/file.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/string_module.h"

namespace sorvel {
namespace {

bool SameText(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

}  // namespace

bool SuperINI::ResolveKey(const QString& section, const QString& key, QString* out_section, QString* out_key) {
  QString s = TrimSpaces(section);
  QString k = TrimSpaces(key);
  if (k.isEmpty() && s.startsWith(u'[')) {
    qsizetype close = s.indexOf(u']', 1);
    if (close > 0) {
      k = s.mid(close + 1);
      s = s.mid(1, close - 1);
    }
  }
  if (s.isEmpty() || k.isEmpty()) return false;
  *out_section = s;
  *out_key = k;
  return true;
}

std::pair<int, int> SuperINI::Find(const QString& section, const QString& key) const {
  for (size_t s = 0; s < sections_.size(); ++s) {
    if (!SameText(sections_[s].name, section)) continue;
    const auto& keys = sections_[s].keys;
    for (size_t k = 0; k < keys.size(); ++k) {
      if (SameText(keys[k].first, key)) return {static_cast<int>(s), static_cast<int>(k)};
    }
  }
  return {-1, -1};
}

QString SuperINI::SectionKey(const QString& section, const QString& key) const {
  QString s, k;
  if (!ResolveKey(section, key, &s, &k)) return QString();
  auto [si, ki] = Find(s, k);
  return si < 0 ? QString() : sections_[static_cast<size_t>(si)].keys[static_cast<size_t>(ki)].second;
}

void SuperINI::SetSectionKey(const QString& section, const QString& key, const QString& value) {
  QString s, k;
  if (!ResolveKey(section, key, &s, &k)) return;
  auto [si, ki] = Find(s, k);
  if (si >= 0) {
    sections_[static_cast<size_t>(si)].keys[static_cast<size_t>(ki)].second = value;
    return;
  }
  for (SectionEntry& entry : sections_) {
    if (SameText(entry.name, s)) {
      entry.exact.insert(k, static_cast<int>(entry.keys.size()));
      entry.keys.emplace_back(k, value);
      ++key_count_;
      return;
    }
  }
  StoreExact(s, k, value);
}

void SuperINI::StoreExact(const QString& section, const QString& key, const QString& value) {
  auto found = section_index_.constFind(section);
  int si;
  if (found == section_index_.constEnd()) {
    si = static_cast<int>(sections_.size());
    sections_.push_back(SectionEntry{section, {}, {}});
    section_index_.insert(section, si);
  } else {
    si = *found;
  }
  SectionEntry& entry = sections_[static_cast<size_t>(si)];
  auto key_found = entry.exact.constFind(key);
  if (key_found != entry.exact.constEnd()) {
    entry.keys[static_cast<size_t>(*key_found)].second = value;
    return;
  }
  entry.exact.insert(key, static_cast<int>(entry.keys.size()));
  entry.keys.emplace_back(key, value);
  ++key_count_;
}

bool SuperINI::Remove(const QString& section, const QString& key) {
  QString s, k;
  if (!ResolveKey(section, key, &s, &k)) return false;
  auto [si, ki] = Find(s, k);
  if (si < 0) return false;
  SectionEntry& entry = sections_[static_cast<size_t>(si)];
  const size_t at = static_cast<size_t>(ki);
  const size_t last = entry.keys.size() - 1;
  entry.exact.remove(entry.keys[at].first);
  if (at != last) {
    entry.keys[at] = std::move(entry.keys[last]);
    entry.exact.insert(entry.keys[at].first, ki);
  }
  entry.keys.pop_back();
  --key_count_;
  return true;
}

void SuperINI::Clear() {
  sections_.clear();
  section_index_.clear();
  key_count_ = 0;
  position_ = 1;
  cursor_section_.clear();
  cursor_key_.clear();
  cursor_value_.clear();
}

QString SuperINI::ResolveFileName(const QString& file_name) {
  if (TrimSpaces(file_name).isEmpty()) return SettingsFilePath();
  if (!file_name.contains(u'/')) return GetDirectoryPart(SettingsFilePath()) + file_name;
  return file_name;
}

bool SuperINI::LoadINI(const QString& file_name, FileProblem* problem) {
  return LoadFile(ResolveFileName(file_name), problem, platform::kMaxSettingsFileBytes);
}

bool SuperINI::LoadFile(const QString& path, FileProblem* problem, int64_t max_bytes) {
  Clear();
  File file;
  const bool opened = !path.isEmpty() && file.OpenFile(path, File::kInput, max_bytes);
  if (problem) *problem = file.OpenProblem();
  if (!opened) return false;
  QString current;
  while (!file.Eof()) {
    const QString line = TrimSpaces(file.Gets());
    if (line.size() < 4) continue;
    if (line.startsWith(u'[') && line.endsWith(u']')) current = line.mid(1, line.size() - 2);
    qsizetype equals = line.indexOf(u'=');
    if (line[0] == u'=' || equals < 0) continue;
    const QString section = TrimSpaces(current);
    const QString key = TrimSpaces(line.left(equals));
    if (section.isEmpty() || key.isEmpty()) continue;
    StoreExact(section, key, line.mid(equals + 1));
  }
  file.CloseFile();
  MoveFirst();
  return true;
}

QStringList SuperINI::ToLines() const {
  QStringList lines;
  for (const SectionEntry& entry : sections_) {
    lines.append(u'[' + entry.name + u']');
    for (const auto& [key, value] : entry.keys) lines.append(key + u'=' + value);
    lines.append(QString());
  }
  return lines;
}

bool SuperINI::SaveINI(const QString& file_name) const {
  const QString path = ResolveFileName(file_name);
  return !path.isEmpty() && ReplaceFileContents(path, EncodeTextLines(ToLines()));
}

bool SuperINI::SaveFile(const QString& path) const {
  return !path.isEmpty() && ReplaceFileContents(path, EncodeTextLines(ToLines()), FileFlush::kToPageCache);
}

bool SuperINI::LoadEntry(int n) {
  int first = 1;
  for (const SectionEntry& entry : sections_) {
    const int count = static_cast<int>(entry.keys.size());
    if (n >= first && n < first + count) {
      const auto& [key, value] = entry.keys[static_cast<size_t>(n - first)];
      cursor_section_ = entry.name;
      cursor_key_ = key;
      cursor_value_ = value;
      return true;
    }
    first += count;
  }
  cursor_section_.clear();
  cursor_key_.clear();
  cursor_value_.clear();
  return false;
}

bool SuperINI::MoveFirst() {
  position_ = 1;
  return LoadEntry(position_);
}

bool SuperINI::MoveNext() {
  if (position_ > Count()) return false;
  ++position_;
  return LoadEntry(position_);
}

bool SuperINI::MoveLast() {
  position_ = Count();
  return LoadEntry(position_);
}

}  // namespace sorvel
