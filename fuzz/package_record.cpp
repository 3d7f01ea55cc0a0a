// A packaged file's record (a zlib stream of length, FILETIME and content) on any bytes, as the
// updater's extraction and kvpack read it, with the time converted as they convert it; and the
// package trailer of a host updater. Damage may raise DamagedRecordError or kv::Error, nothing
// else may happen.
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/Package.h"
#include "platform/Win32.h"
#include "platform/host/FileTimes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  try {
    std::uint64_t received = 0;
    const kv::RecordHeader header = kv::InflateRecord(bytes, [&](const std::uint8_t*, std::size_t n) {
      if (n > kv::kRecordPieceSize) __builtin_trap();
      received += n;
    });
    if (received != header.length) __builtin_trap();
  } catch (const kv::DamagedRecordError&) {
  } catch (const kv::Error&) {
  }
  try {
    const kv::RecordHeader header = kv::ReadRecordHeader(bytes);
    kv::host::TimespecFromFileTime(header.time);
    kv::win::FileTimeToLocalFileTime(header.time);
  } catch (const kv::DamagedRecordError&) {
  }
  // The bytes read as a whole time too, whatever they hold.
  if (size >= 8) {
    std::uint64_t time = 0;
    for (int i = 7; i >= 0; --i) time = (time << 8) | data[i];
    const timespec ts = kv::host::TimespecFromFileTime(time);
    const kv::win::FileTime back = kv::host::FileTimeFromTimespec(ts);
    if (time <= kv::win::MAX_FILETIME && back != time) __builtin_trap();
    kv::win::FileTimeToLocalFileTime(time);
  }
  try {
    kv::ReadPackageTrailer(bytes);
  } catch (const kv::Error&) {
  }
  return 0;
}
