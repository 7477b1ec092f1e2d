// A host file opened by path with 64-bit positions, and the path queries the
// engine makes of source files (size, attributes, modification time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/source_identity.h"

namespace sorvel {

class HostFile {
 public:
  // Open modes (bit values): 0 read; 1 write (kept, or created); 2 or 3 read and
  // write (must exist); 4 and above create (emptied, or created) for read and write.
  static constexpr int kRead = 0;
  static constexpr int kWrite = 1;
  static constexpr int kReadWrite = 2;
  static constexpr int kCreate = 4;

  // Attribute bits in the word AttributesOf reports.
  static constexpr uint32_t kReadOnly = 0x01;
  static constexpr uint32_t kHidden = 0x02;
  static constexpr uint32_t kDirectory = 0x10;
  static constexpr uint32_t kArchive = 0x20;

  HostFile() = default;
  ~HostFile();
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;
  HostFile(HostFile&& other) noexcept;
  HostFile& operator=(HostFile&& other) noexcept;

  bool Open(const std::string& path, int mode);
  // Opens for reading (mode 0) a source that was found to be a regular file
  // when it was added: only the opened descriptor is checked, which refuses
  // anything else put in its place since. `status`, when given, receives
  // the stat of the opened descriptor.
  bool OpenSource(const std::string& path, struct stat* status = nullptr);
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }
  // The open descriptor, -1 when closed.
  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }
  bool Writable() const { return writable_; }

  // Bytes read or written; 0 when closed, at the end or on an error.
  size_t Read(void* buffer, size_t n);
  size_t Write(const void* buffer, size_t n);
  // The byte, or 0xFFFF at the end or on an error.
  uint32_t ReadByte();
  bool WriteByte(uint8_t value);
  bool WriteText(const std::string& text);
  bool Flush();

  // origin: 0 begin, 1 current, 2 end.
  bool Seek(int64_t offset, int origin);
  int64_t Position() const;
  int64_t Size() const;
  bool Truncate(int64_t size);
  bool Rewind() { return Seek(0, 0); }

  // Copies `count` bytes from `other`'s position to this file's position through a
  // 32 KiB buffer; `other`'s position is restored. Returns the bytes copied.
  int64_t CopyFrom(HostFile& other, int64_t count);
  // Copies `count` bytes within this file from `from` to `to` (overlap allowed);
  // the position is restored.
  bool CopyBlock(int64_t from, int64_t to, int64_t count);

  // CRC of the whole file or of `count` bytes from `offset`, read in 32 KiB
  // blocks; the position is restored. Kinds as CrcCalculator::SetupStandard:
  // 0 and 1 CRC-16 from 0xFFFF, 2 CRC-32 from 0xFFFFFFFF, inverted.
  // False when closed, for another kind, or when the bytes cannot all be read.
  bool FileCrc(int kind, uint32_t* crc);
  bool RangeCrc(int kind, int64_t offset, int64_t count, uint32_t* crc);

  // Everything the path queries below tell, from one stat of the path.
  struct PathInfo {
    bool regular = false;
    int64_t size = 0;
    uint32_t attributes = 0;
    int64_t modification_time = 0;
    platform::SourceIdentity identity;
  };
  // False (and `info` untouched) when the path cannot be queried.
  static bool Query(const std::string& path, PathInfo* info);

  // Path queries; no open file needed.
  static bool Exists(const std::string& path);
  static int64_t SizeOf(const std::string& path);    // -1 when missing
  static int64_t SizeOf64(const std::string& path);  // -1 when missing
  static bool IsRegularFile(const std::string& path);
  static uint32_t AttributesOf(const std::string& path);  // 0 when missing
  static bool SetAttributes(const std::string& path, uint32_t attributes);
  static int64_t ModificationTimeOf(const std::string& path);  // 0 when the query fails
  static bool SetModificationTime(const std::string& path, int64_t time);
  static bool Rename(const std::string& old_path, const std::string& new_path);
  static bool Remove(const std::string& path);

 private:
  int fd_ = -1;
  std::string path_;
  bool writable_ = false;
};

}  // namespace sorvel
