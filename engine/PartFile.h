// Files a run is still writing: a packaged file being extracted into the temporary folder, a new
// copy beside the installed file it is to replace. Each is written under a name of its own, held
// open without sharing until it takes its target's place in one rename, and deleted on failure.
// A run that is killed, or a machine that loses power, leaves such a file behind; the next run
// finds it by its name and removes it once its owner is gone.
//
// The name: "~" + the target's file name (at most 64 bytes of it) + ".~" + the writing process's
// id + "-" + a number + ".kvpart", for example "~french.adm.~4711-3.kvpart".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Win32.h"

namespace kv {

// The part-file name for a target (a full path) and a writer: the same folder, a name of its own.
std::string PartFileName(const std::string& target, win::DWORD processId, std::uint32_t number);
// The id of the process that wrote a part file, from its name (with or without folder); nullopt
// for a name that is not a part file's.
std::optional<win::DWORD> PartFileOwner(const std::string& fileName);

// Deletes the part files of a folder that their writers left behind: a part file goes when no
// running process of this machine has its id and nobody holds it open (a run on another
// workstation holds its own open without sharing from creation to rename, so its files are never
// taken). Files that are not part files are never touched. Answers how many were deleted; never
// throws.
int RemoveAbandonedPartFiles(const std::string& folder) noexcept;

// A new part file beside a target, created and held open for writing without sharing.
class PartFile {
 public:
  // Throws SystemError ("Impossible de créer le fichier <target>.") when it cannot be created.
  explicit PartFile(const std::string& target);
  // Closes and deletes the file unless it took its target's place. Never throws.
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  const std::string& Path() const { return path_; }
  win::File& File() { return file_; }

  // The file takes the target's place in one rename, still held open, then is closed. durable:
  // the content is written through to the disk before the rename, and the rename itself after,
  // so a power cut leaves either the old target or the whole new one. False with the last error
  // set when it failed; the part file is then still there, and goes with the object.
  bool ReplaceTarget(bool durable);

 private:
  std::string target_;
  std::string path_;
  win::File file_;
  bool placed_ = false;
};

}  // namespace kv
