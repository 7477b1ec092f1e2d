#include "mastering_engine/iso_tree.h"

#include <ctime>
#include <vector>

#include "mastering_engine/host_file.h"

namespace sorvel {

namespace {

// The root's "." and ".." are dated 2000-01-01 00:00:00 local time.
int64_t RootTime() {
  std::tm tm{};
  tm.tm_year = 100;
  tm.tm_mon = 0;
  tm.tm_mday = 1;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

// Frees a subtree without recursing once per level, so deep trees cannot
// exhaust the stack.
void FreeSubtree(std::unique_ptr<IsoNode> top) {
  std::vector<std::unique_ptr<IsoNode>> doomed;
  doomed.push_back(std::move(top));
  while (!doomed.empty()) {
    std::unique_ptr<IsoNode> n = std::move(doomed.back());
    doomed.pop_back();
    if (n && n->directory) {
      for (auto& [key, child] : n->directory->entries) doomed.push_back(std::move(child));
    }
  }
}

void FreeEntries(IsoDirectory* dir) {
  if (dir == nullptr) return;
  for (auto& [key, child] : dir->entries) FreeSubtree(std::move(child));
  dir->entries.clear();
}

}  // namespace

IsoTree::IsoTree() { ResetRoot(); }

IsoTree::~IsoTree() { FreeEntries(root_.directory.get()); }

std::unique_ptr<IsoDirectory> IsoTree::NewDirectory(IsoNode* owner, IsoDirectory* parent, uint32_t attributes,
                                                    int64_t time) {
  auto dir = std::make_unique<IsoDirectory>();
  dir->owner = owner;
  dir->parent = parent == nullptr ? dir.get() : parent;
  for (IsoNode* fixed : {&dir->dot, &dir->dotdot}) {
    fixed->is_directory = true;
    fixed->attributes = attributes;
    fixed->time = time;
    fixed->parent = dir.get();
  }
  dir->dot.name.assign(1, '.');
  dir->dot.short_name.assign(1, '.');
  dir->dotdot.name.assign(2, '.');
  dir->dotdot.short_name.assign(2, '.');
  dir->dot.source = owner == &root_ ? std::string() : owner->name;
  dir->short_names.Add(".");
  dir->short_names.Add("..");
  directories_.insert(dir.get());
  return dir;
}

void IsoTree::ResetRoot() {
  FreeEntries(root_.directory.get());
  directories_.clear();
  root_ = IsoNode();
  root_.is_directory = true;
  root_.time = RootTime();
  root_.directory = NewDirectory(&root_, nullptr, 0, root_.time);
  current_ = root_.directory.get();
  ++generation_;
  changed_ = true;
}

bool IsoTree::InitISOFS(int variant) {
  if (!IsValidIsoVariant(variant)) return false;
  variant_ = variant;
  ResetRoot();
  return true;
}

void IsoTree::ClearISO() { ResetRoot(); }

bool IsoTree::IsISOEmpty() const { return root_.directory->entries.empty(); }

void IsoTree::Touch(IsoDirectory* dir) {
  dir->sizes.valid = false;
  ++generation_;
  changed_ = true;
}

// Entries are kept in the order of the names as written on disc: upper-cased
// CP932 bytes for the ISO 9660 variants; for Joliet the UTF-8 bytes, whose order
// is the UCS-2 order of the supplementary tree.
std::string IsoTree::EntryKey(std::string_view name) const {
  return IsJolietVariant(variant_) ? UpperAscii(name) : UpperCp932(NameToCp932(name));
}

IsoNode* IsoTree::FindEntry(std::string_view name) const {
  auto it = current_->entries.find(EntryKey(name));
  return it == current_->entries.end() ? nullptr : it->second.get();
}

namespace {

// Whether `key` sorts after every key of `entries`: a folder listed in order
// and added name by name then costs no search for each name.
template <typename Map>
bool SortsLast(const Map& entries, std::string_view key) {
  return entries.empty() || std::string_view(entries.rbegin()->first) < key;
}

}  // namespace

bool IsoTree::NameTaken(std::string_view candidate) const {
  const std::string key = EntryKey(candidate);
  return !SortsLast(current_->entries, key) && current_->entries.find(key) != current_->entries.end();
}

std::string IsoTree::ConvertIsoName(std::string_view name, int variant, bool is_directory) {
  return ConvertIsoNameRule(
      name, variant, is_directory, [this](std::string_view c) { return NameTaken(c); }, &current_->name_hints);
}

std::string IsoTree::ConvertJolietName(std::string_view name) {
  const NameTable& table = current_->short_names;
  return ConvertShortNameRule(
      name, [&table](std::string_view c) { return table.Contains(UpperAscii(c)); }, &current_->short_hints);
}

void IsoTree::Insert(std::unique_ptr<IsoNode> node) {
  node->parent = current_;
  if (IsJolietVariant(variant_)) current_->short_names.Add(UpperAscii(node->short_name));
  std::string key = EntryKey(node->name);
  auto& entries = current_->entries;
  if (SortsLast(entries, key)) {
    entries.emplace_hint(entries.end(), std::move(key), std::move(node));
  } else {
    entries.emplace(std::move(key), std::move(node));
  }
  Touch(current_);
}

bool IsoTree::ConvertNewName(std::string_view name, bool is_directory) {
  if (TracksFull()) return false;
  last_name_ = ConvertIsoName(name, variant_, is_directory);
  return !last_name_.empty();
}

std::unique_ptr<IsoNode> IsoTree::NewEntry(std::string_view name, uint32_t attributes, int64_t time) {
  auto node = std::make_unique<IsoNode>();
  node->name = last_name_;
  if (IsJolietVariant(variant_)) node->short_name = ConvertJolietName(name);
  node->attributes = attributes;
  node->time = time;
  return node;
}

bool IsoTree::AddISOFile(std::string_view name, const std::string& source_path) {
  if (!ConvertNewName(name, false)) return false;
  // Only regular files carry data; directories, FIFOs and devices are refused.
  // One query of the host file gives its size, attributes and time.
  HostFile::PathInfo info;
  if (!HostFile::Query(source_path, &info) || !info.regular) return false;
  if (info.size < 0 || static_cast<uint64_t>(info.size) > kMaxFileSize) return false;
  if (NameTaken(last_name_)) return false;
  uint32_t hidden = (info.attributes & HostFile::kHidden) ? IsoNode::kHiddenAttribute : 0;
  auto node = NewEntry(name, hidden, info.modification_time);
  node->source = source_path;
  node->identity = info.identity;
  node->size = static_cast<uint64_t>(info.size);
  Insert(std::move(node));
  return true;
}

bool IsoTree::AddISODummyFile(std::string_view name, uint32_t attributes, uint32_t size, int64_t time) {
  if (!ConvertNewName(name, false) || NameTaken(last_name_)) return false;
  auto node = NewEntry(name, attributes, time);
  node->size = size;
  Insert(std::move(node));
  return true;
}

bool IsoTree::MakeISODirectory(std::string_view name, uint32_t attributes, int64_t time) {
  // A tree that could not be laid out would only fail at the burn.
  if (directories_.size() >= kMaxDirectories) return false;
  if (!ConvertNewName(name, true) || NameTaken(last_name_)) return false;
  auto node = NewEntry(name, attributes, time);
  node->is_directory = true;
  node->directory = NewDirectory(node.get(), current_, attributes, time);
  Insert(std::move(node));
  return true;
}

bool IsoTree::ChangeISODirectory(std::string_view path) {
  if (path.empty()) return false;
  IsoDirectory* dir = path[0] == '\\' ? root_.directory.get() : current_;
  size_t start = 0;
  while (start <= path.size()) {
    size_t sep = path.find('\\', start);
    std::string_view part = path.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
    if (part == ".") {
      // stays
    } else if (part == "..") {
      dir = dir->parent;
    } else if (!part.empty()) {
      auto it = dir->entries.find(EntryKey(part));
      if (it == dir->entries.end() || !it->second->is_directory) return false;
      dir = it->second->directory.get();
    }
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  current_ = dir;
  return true;
}

void IsoTree::ForgetDirectories(IsoNode* node) {
  std::vector<IsoDirectory*> stack;
  if (node->is_directory) stack.push_back(node->directory.get());
  while (!stack.empty()) {
    IsoDirectory* dir = stack.back();
    stack.pop_back();
    directories_.erase(dir);
    if (current_ == dir) current_ = dir->parent;  // never the case through the exports
    for (auto& [key, child] : dir->entries) {
      if (child->is_directory) stack.push_back(child->directory.get());
    }
  }
}

bool IsoTree::RemoveISOFile(std::string_view name) {
  auto it = current_->entries.find(EntryKey(name));
  if (it == current_->entries.end() || it->second->name != name) return false;
  IsoNode* node = it->second.get();
  ForgetDirectories(node);
  if (IsJolietVariant(variant_)) current_->short_names.Remove(UpperAscii(node->short_name));
  // Numbers below a remembered one may be free again.
  current_->name_hints.clear();
  current_->short_hints.clear();
  std::unique_ptr<IsoNode> doomed = std::move(it->second);
  current_->entries.erase(it);
  FreeSubtree(std::move(doomed));
  Touch(current_);
  return true;
}

bool IsoTree::RenameISOFile(std::string_view name, std::string_view new_name) {
  IsoNode* node = FindEntry(name);
  if (node == nullptr) return false;
  last_name_ = ConvertIsoName(new_name, variant_, node->is_directory);
  if (last_name_.empty() || NameTaken(last_name_)) return false;
  std::string short_name;
  if (IsJolietVariant(variant_)) short_name = ConvertJolietName(new_name);
  // Move the entry itself: a directory keeps its whole subtree.
  auto handle = current_->entries.extract(EntryKey(node->name));
  if (IsJolietVariant(variant_)) current_->short_names.Remove(UpperAscii(node->short_name));
  node->name = last_name_;
  node->short_name = short_name;
  if (node->is_directory) {
    node->directory->dot.source = last_name_;
    node->directory->sizes.valid = false;
  }
  handle.key() = EntryKey(last_name_);
  current_->entries.insert(std::move(handle));
  if (IsJolietVariant(variant_)) current_->short_names.Add(UpperAscii(short_name));
  current_->name_hints.clear();
  current_->short_hints.clear();
  Touch(current_);
  return true;
}

bool IsoTree::ChangeISOProperties(std::string_view name, uint32_t attributes, int64_t time) {
  IsoNode* node = FindEntry(name);
  if (node == nullptr) return false;
  node->attributes = attributes;
  // The time the exports reported for this entry, given back unchanged (a
  // property dialog confirmed without an edit, a project reloaded), keeps the
  // entry's own time even where 32 bits could not carry it.
  if (time != ExportedTime(node->time)) node->time = time;
  Touch(current_);
  return true;
}

std::string IsoTree::GetISOCurrentDirectory() const {
  std::vector<const std::string*> names;
  for (const IsoDirectory* dir = current_; dir != root_.directory.get(); dir = dir->parent) {
    names.push_back(&dir->owner->name);
  }
  std::string path = "\\";
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path += **it;
    path += '\\';
  }
  return path;
}

}  // namespace sorvel
