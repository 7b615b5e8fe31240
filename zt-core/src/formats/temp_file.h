// The temporary file through which either program replaces a player's file:
// ".NAME.PID.N.tmp" beside it (NAME the file's name, PID the writer's process
// id, N a serial), renamed over the file once it is written and flushed.
//
// The two programs may share a folder (the Windows one under Wine) and
// neither can see the other's process ids. What both can see is a lock: the
// writer holds an exclusive lock on one byte of its temporary file for as
// long as the file is open, and a start-up clean-up removes only a file it
// can lock itself. Wine takes a Windows program's byte-range locks as the
// system's record locks, so the two kinds meet.
#pragma once

#include <cstdint>

namespace zt {

// The locked byte, far past anything written, so that the lock never stands
// in the way of reading or writing the file's contents (Windows enforces
// byte-range locks on reads and writes through other handles).
inline constexpr std::uint64_t kTempFileLockOffset = std::uint64_t{1} << 62;

// How long after its last write a temporary file that nobody holds may be
// removed: it also covers the moment between a writer's creating the file
// and its taking the lock, and a writer that edits the file by its name.
inline constexpr std::int64_t kStaleTempFileSeconds = 60;

}  // namespace zt
