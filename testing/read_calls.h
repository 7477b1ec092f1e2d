// How many read() calls the calling thread has made so far (from
// /proc/thread-self/io; -1 when the system does not count them), for tests
// that check a file is read in blocks rather than piece by piece.
#pragma once

namespace sorvel::testing {

long ReadCallsOfThisThread();

}  // namespace sorvel::testing
