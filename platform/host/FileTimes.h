// FILETIME (100-ns units since 1601, UTC) and the host's timespec, both ways, exactly.
#pragma once

#include <ctime>

#include "platform/Win32.h"

namespace kv::host {

win::FileTime FileTimeFromTimespec(const timespec& ts);
timespec TimespecFromFileTime(win::FileTime time);

}  // namespace kv::host
