// Answers one question about one path: a file (and its size), a folder or known drive root,
// or nothing usable. Keeps no state, changes nothing on disk, and never reports an error:
// whatever goes wrong while looking reads as absent.
#ifndef PLATFORM_PATH_PROBE_H_
#define PLATFORM_PATH_PROBE_H_

#include <stdint.h>

#include "launch/platform_services.h"

namespace launcher {

// The longest path probed, in UTF-16 units without the terminator and without trailing
// separators. A longer path reads as absent: probing part of it would answer for another path.
constexpr size_t kProbePathLimit = 260;

// A file's size (0 or more), PATH_DIRECTORY or PATH_ABSENT. `path` may be null; it is never
// changed.
int64_t ProbePath(const wchar_t* path);

}  // namespace launcher

#endif  // PLATFORM_PATH_PROBE_H_
