// English texts of the drive's sense status (sense key << 16 | ASC << 8 | ASCQ)
// as the device engine binding shows them.
#pragma once

#include <QString>
#include <cstdint>

namespace sorvel {

// "" for 0; the time-out text for 0xFFFFFF (no drive); otherwise
// "(K AA QQ) " and the description, "UNKNOWN ERROR" when there is none.
// Only the low 24 bits of `sense_status` count.
QString SenseDescription(int32_t sense_status);

// The rows of the exact table, for tests that judge every row.
int SenseTextRowCount();
uint32_t SenseTextRowCode(int index);

}  // namespace sorvel
