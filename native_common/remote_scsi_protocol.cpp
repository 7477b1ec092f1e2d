#include "native_common/remote_scsi_protocol.h"

#include <cstring>

#include "native_common/little_endian.h"

namespace sorvel {

void ExecCommandRequest::Encode(uint8_t out[kExecCommandRequestSize]) const {
  PutLe32(out + 0, static_cast<uint32_t>(data_in_length));
  PutLe32(out + 4, static_cast<uint32_t>(timeout_seconds));
  PutLe32(out + 8, static_cast<uint32_t>(cdb_length));
  std::memcpy(out + 12, cdb, kCdbFieldSize);
  PutLe32(out + 44, static_cast<uint32_t>(data_out_length));
}

ExecCommandRequest ExecCommandRequest::Decode(const uint8_t in[kExecCommandRequestSize]) {
  ExecCommandRequest r;
  r.data_in_length = static_cast<int32_t>(GetLe32(in + 0));
  r.timeout_seconds = static_cast<int32_t>(GetLe32(in + 4));
  r.cdb_length = static_cast<int32_t>(GetLe32(in + 8));
  std::memcpy(r.cdb, in + 12, kCdbFieldSize);
  r.data_out_length = static_cast<int32_t>(GetLe32(in + 44));
  return r;
}

void ExecCommandReply::Encode(uint8_t out[kExecCommandReplySize]) const {
  PutLe32(out + 0, static_cast<uint32_t>(result));
  std::memcpy(out + 4, sense, sizeof sense);
  PutLe32(out + 36, static_cast<uint32_t>(data_length));
}

ExecCommandReply ExecCommandReply::Decode(const uint8_t in[kExecCommandReplySize]) {
  ExecCommandReply r;
  r.result = static_cast<int32_t>(GetLe32(in + 0));
  std::memcpy(r.sense, in + 4, sizeof r.sense);
  r.data_length = static_cast<int32_t>(GetLe32(in + 36));
  return r;
}

}  // namespace sorvel
