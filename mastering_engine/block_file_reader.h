// A source file read front to back in large blocks and handed out in small
// pieces: streaming a file sector by sector then costs one read() per block
// instead of one per sector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "mastering_engine/host_file.h"
#include "platform/source_identity.h"

namespace sorvel {

class BlockFileReader {
 public:
  static constexpr size_t kBlockSize = size_t{1} << 20;

  BlockFileReader() = default;
  BlockFileReader(const BlockFileReader&) = delete;
  BlockFileReader& operator=(const BlockFileReader&) = delete;

  // Opens a source found to be a regular file when it was added, for reading
  // (closing the one open); no more than `limit` bytes of it are ever read.
  // False when it cannot be opened or is no longer a regular file, or, given
  // what the file was when it was added, when the opened file differs from it.
  // Once its last byte is read, the file is compared again with what it was
  // when it was opened: a file written meanwhile (same inode and size, its
  // bytes part old and part new) gives out no more bytes from there.
  bool Open(const std::string& path, uint64_t limit, const platform::SourceIdentity* added = nullptr);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  // The opened path, empty when closed.
  const std::string& Path() const { return file_.Path(); }
  // Copies the next bytes of the file, up to `n`; fewer only where the file
  // (or the limit) ends or a read fails, 0 when closed. A file that ended
  // early is read again at the next call.
  size_t Read(uint8_t* out, size_t n);
  // Closes and frees the block buffer, which Close keeps for the next file.
  void Release();

 private:
  bool Fill();

  HostFile file_;
  std::unique_ptr<uint8_t[]> block_;
  size_t begin_ = 0;    // the unread bytes of the block: [begin_, end_)
  size_t end_ = 0;
  uint64_t left_ = 0;   // bytes of the file not read into the block yet
  platform::ContentStamp opened_;  // the file's contents when it was opened
};

}  // namespace sorvel
