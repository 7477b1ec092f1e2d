// Trelin on the bus ("SORVEL.Trelin"): the device engine binding's 40 public
// members for automation clients, each object with its own engine. It opens
// local drives from the drive map and remote ones through the drive daemon,
// as the binding does for the dialogs.
//
// What the bus adds to the binding, because a client's mistakes must not
// harm the server or another client's drive:
// - ReadLBA answers exactly the sector size of the running read pass (2,048
//   for CCC_DATA, 2,352 for CCC_RAW, 2,448 for CCC_RAW16 and CCC_RAW96;
//   nothing without a pass), whatever array the client sent.
// - WriteLBA refuses (False, nothing written) an array shorter than the
//   running write pass takes for its data type.
// - While the write cache's worker runs (from a successful WriteStart to
//   WriteFlush or WriteEnd) the members that would send a drive command of
//   their own answer their failure value without sending it: the worker
//   alone talks to the drive then.
// - An object that ends with its drive open (released, or its client gone)
//   closes it as CloseDevice does: error correction and speeds put back, the
//   pass ended, the tray unlocked.
// - SetTOCStructure copies a TOC while no call of the TOC's own runs, and
//   answers kBusyError while one does: it never waits for another worker.
// Every member runs on the object's worker, so one that waits on a drive or
// on the network holds up no other client.
#pragma once

#include <cstdint>
#include <optional>

#include "gui/automation/bus_object.h"
#include "gui/model/trelin.h"

namespace sorvel {

inline constexpr char kTrelinInterface[] = "SORVEL.Trelin";

// Trelin objects a connection, and the whole server, may hold: each runs a
// drive engine with a thread of its own.
inline constexpr int kMaxTrelinPerConnection = 64;
inline constexpr int kMaxTrelinInServer = 512;

const BusClass& TrelinBusClass();

class TrelinBusObject : public BusObject {
 public:
  TrelinBusObject();
  ~TrelinBusObject() override;

  Trelin& Drive() { return drive_; }
  // Closes the drive the object left open.
  void Ended() override;

  // Bytes per sector of a read pass started with `read_command`.
  static int32_t ReadSectorSize(int32_t read_command);
  // Bytes WriteLBA takes for `data_type` in a write pass on `media_family`.
  static int32_t WriteDataSize(int32_t media_family, int32_t data_type);

  // State of the passes this object started.
  bool open = false;
  int32_t read_sector_size = 0;               // 0: no read pass
  std::optional<int32_t> write_media_family;  // set while a write pass runs
  bool worker_may_run = false;                // the write cache may be writing

 private:
  Trelin drive_;
};

}  // namespace sorvel
