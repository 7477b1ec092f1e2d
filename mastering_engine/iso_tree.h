// The data area: an in-memory directory tree whose entries carry the names they
// will have on the disc, converted by the rule of the file-system variant, and a
// current directory in which every name-based operation works.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "mastering_engine/iso_node.h"

namespace sorvel {

class IsoTree {
 public:
  // Largest source file accepted: 4 GiB - 1.
  static constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;
  // A disc holds at most 99 tracks.
  static constexpr size_t kMaxTracks = 99;
  // Directories of a data area, the root included: the path tables number a
  // directory's parent in 16 bits.
  static constexpr size_t kMaxDirectories = 65535;

  IsoTree();
  virtual ~IsoTree();
  IsoTree(const IsoTree&) = delete;
  IsoTree& operator=(const IsoTree&) = delete;

  int Variant() const { return variant_; }
  // Accepts 0, 1, 2, 3, 4, 16 or 17: sets the variant and empties the tree.
  bool InitISOFS(int variant);
  // Empties the tree; the root becomes current.
  void ClearISO();
  bool IsISOEmpty() const;

  bool AddISOFile(std::string_view name, const std::string& source_path);
  bool AddISODummyFile(std::string_view name, uint32_t attributes, uint32_t size, int64_t time);
  // Refused once the tree holds kMaxDirectories directories.
  bool MakeISODirectory(std::string_view name, uint32_t attributes, int64_t time);
  // The name the last conversion produced; empty when it refused.
  const std::string& GetISONewFileDirectoryName() const { return last_name_; }
  // Path of "\"-separated directory names; a leading "\" starts at the root.
  bool ChangeISODirectory(std::string_view path);
  // Removes the entry whose first name equals `name` exactly, a directory with its subtree.
  bool RemoveISOFile(std::string_view name);
  bool RenameISOFile(std::string_view name, std::string_view new_name);
  // Sets an entry's attributes and time; a time equal to ExportedTime of the
  // entry's own time leaves that time as it is.
  bool ChangeISOProperties(std::string_view name, uint32_t attributes, int64_t time);
  // "\" for the root, else "\DATA\SUB\".
  std::string GetISOCurrentDirectory() const;

  // Name rules in the current directory (see iso_name.h); empty when refused.
  std::string ConvertIsoName(std::string_view name, int variant, bool is_directory);
  std::string ConvertJolietName(std::string_view name);

  const IsoNode& Root() const { return root_; }
  const IsoDirectory& Current() const { return *current_; }
  // Every directory of the tree, the root included.
  const std::unordered_set<const IsoDirectory*>& Directories() const { return directories_; }
  // Increases with every change of the tree.
  uint64_t Generation() const { return generation_; }
  bool Changed() const { return changed_; }
  void ClearChanged() { changed_ = false; }

 protected:
  // Audio tracks of the layout; the track layer tells. Data entries are refused at 99.
  virtual size_t AudioTrackCount() const { return 0; }

 private:
  std::string EntryKey(std::string_view name) const;  // sort and lookup key of a first name
  IsoNode* FindEntry(std::string_view name) const;  // case-insensitive, current directory
  bool NameTaken(std::string_view candidate) const;
  bool TracksFull() const { return AudioTrackCount() >= kMaxTracks; }
  // Refused at 99 tracks; else converts a new entry's name into the last converted name.
  bool ConvertNewName(std::string_view name, bool is_directory);
  // An entry named by the last conversion, with its 8.3 second name under Joliet.
  std::unique_ptr<IsoNode> NewEntry(std::string_view name, uint32_t attributes, int64_t time);
  void Insert(std::unique_ptr<IsoNode> node);
  void Touch(IsoDirectory* dir);
  void ForgetDirectories(IsoNode* node);
  std::unique_ptr<IsoDirectory> NewDirectory(IsoNode* owner, IsoDirectory* parent, uint32_t attributes,
                                             int64_t time);
  void ResetRoot();

  int variant_ = kIsoLevel4;
  IsoNode root_;
  IsoDirectory* current_ = nullptr;
  std::string last_name_;
  std::unordered_set<const IsoDirectory*> directories_;
  uint64_t generation_ = 0;
  bool changed_ = false;
};

}  // namespace sorvel
