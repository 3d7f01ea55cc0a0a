// FILETIME (100-ns units since 1601, UTC) and the host's timespec, both ways, defined for every
// value either side can hold.
#pragma once

#include <ctime>

#include "platform/Win32.h"

namespace kv::host {

// Exact from 1601 to the year 30828 (MAX_FILETIME); a host time outside that range (a file system
// can hold earlier and later times) is clamped to its nearer end.
win::FileTime FileTimeFromTimespec(const timespec& ts);
// Exact for every 64-bit FILETIME: a 64-bit time_t holds the whole range (up to the year 60056).
// A file system that cannot store such a time keeps the nearest one it can (Linux clamps).
timespec TimespecFromFileTime(win::FileTime time);

}  // namespace kv::host
