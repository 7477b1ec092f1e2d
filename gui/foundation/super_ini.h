// An INI document in memory: ordered sections of ordered key/value texts,
// loaded from and saved to a text file. A key is given as a section and a key,
// or as one text "[SECTION]KEY" with an empty key. Reads, writes and removals
// match section and key without regard to letter case, take the first match
// in document order, and keep the stored spelling. Saving rewrites the whole
// file: one "[name]" line per section, a "key=value" line per key, one empty
// line after each section, CR LF line ends.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "gui/foundation/regular_file.h"

namespace sorvel {

class SuperINI {
 public:
  SuperINI() = default;

  // Removes one key; when it is not the last of its section, the section's
  // last key takes its place. The section stays. False when not found.
  bool Remove(const QString& section, const QString& key = QString());
  // Removes every section; the cursor goes to position 1.
  void Clear();
  // Clears, then reads the file (see file_name rules below): a regular file
  // of at most 16 MiB. False when the file cannot be opened (the document
  // stays empty), with `problem` telling why. Cursor on the first entry.
  bool LoadINI(const QString& file_name, FileProblem* problem = nullptr);
  // Writes the whole document to a temporary file beside the target, checking
  // every write and the close, then renames it over the target. False on any
  // failure; the old file is then left as it was.
  bool SaveINI(const QString& file_name) const;
  // The same for a document the user named (an image descriptor): `path` is
  // taken as it is, a relative one against the current folder, never in the
  // settings file's folder, and bounded as a sheet. An empty path names no
  // file: false. Saved as the image beside it is, without a flush to disk.
  bool LoadFile(const QString& path, FileProblem* problem = nullptr,
                int64_t max_bytes = platform::kMaxSheetFileBytes);
  bool SaveFile(const QString& path) const;

  // The value, "" when there is none.
  QString SectionKey(const QString& section, const QString& key = QString()) const;
  // Sets a value: replaces the first matching key, else appends the key to the
  // first matching section, else appends a new section.
  void SetSectionKey(const QString& section, const QString& key, const QString& value);

  bool MoveFirst();
  bool MoveNext();
  bool MoveLast();
  bool Eof() const { return position_ > Count(); }
  // Keys over all sections.
  int Count() const { return key_count_; }
  const QString& Section() const { return cursor_section_; }
  const QString& Key() const { return cursor_key_; }
  const QString& Value() const { return cursor_value_; }

  // The lines SaveINI writes, without line ends.
  QStringList ToLines() const;

  // The file a name of the program's own settings files stands for: the
  // settings file for an empty or blank name, a name without "/" in the
  // settings file's folder, else the name itself.
  static QString ResolveFileName(const QString& file_name);

 private:
  struct SectionEntry {
    QString name;
    std::vector<std::pair<QString, QString>> keys;
    QHash<QString, int> exact;  // key -> index in keys, for loading
  };

  // Section and key after the argument rules; false when either is empty.
  static bool ResolveKey(const QString& section, const QString& key, QString* out_section, QString* out_key);
  // Section index and key index of the first case-insensitive match, or -1.
  std::pair<int, int> Find(const QString& section, const QString& key) const;
  // Stores with exact matching (the file loader's rule).
  void StoreExact(const QString& section, const QString& key, const QString& value);
  bool LoadEntry(int n);

  std::vector<SectionEntry> sections_;
  QHash<QString, int> section_index_;  // exact name -> index
  int key_count_ = 0;
  int position_ = 1;
  QString cursor_section_;
  QString cursor_key_;
  QString cursor_value_;
};

}  // namespace sorvel
