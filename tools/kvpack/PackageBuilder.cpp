#include "tools/kvpack/PackageBuilder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <memory>
#include <thread>

#include "formats/PeWriter.h"
#include "formats/Text.h"
#include "platform/MappedFile.h"
#include "platform/host/FileTimes.h"

namespace kvpack {

namespace fs = std::filesystem;
using kv::Error;

namespace {

[[noreturn]] void Fail(const std::string& what, const fs::path& path, int err) {
  throw Error(what + " " + path.string() + " : " + std::strerror(err));
}

// A host file descriptor, closed by the destructor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

void WriteAll(int fd, const void* data, std::size_t size, const fs::path& path) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd, p, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      Fail("Échec de l'écriture de", path, errno);
    }
    p += put;
    size -= static_cast<std::size_t>(put);
  }
}

std::size_t ReadSome(int fd, void* buffer, std::size_t size, const fs::path& path) {
  for (;;) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) Fail("Échec de la lecture de", path, errno);
  }
}

// A new file beside `target`, removed by the destructor unless it was renamed into place.
class TemporaryBeside {
 public:
  TemporaryBeside(const fs::path& target, const char* purpose) {
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    // Hidden, and named after the target, so that a leftover is easy to place.
    std::string name(1, '.');
    name.append(target.filename().string()).append(1, '.').append(purpose).append("-XXXXXX");
    std::string pattern = (folder / name).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) Fail("Impossible de créer un fichier temporaire pour", target, errno);
    path_ = pattern;
    fd_ = fd;
  }
  ~TemporaryBeside() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryBeside(const TemporaryBeside&) = delete;
  TemporaryBeside& operator=(const TemporaryBeside&) = delete;

  const fs::path& Path() const { return path_; }
  int Fd() const { return fd_; }
  void Close() {
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) Fail("Échec de l'écriture de", path_, errno);
  }
  void RenameTo(const fs::path& target) {
    Close();
    if (::rename(path_.c_str(), target.c_str()) != 0) Fail("Impossible de remplacer", target, errno);
    path_.clear();
  }

 private:
  fs::path path_;
  int fd_ = -1;
};

// Where each record lies: which worker's scratch file, and where in it.
struct RecordPlace {
  std::size_t scratch = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// One worker's scratch file, its records one after the other.
struct Scratch {
  explicit Scratch(const fs::path& output) : file(output, "records") {}
  TemporaryBeside file;
  std::uint64_t size = 0;
};

// Streams one input through zlib to the end of a scratch file.
RecordPlace CompressInto(const PackageInput& input, Scratch& scratch, std::size_t scratchIndex) {
  Fd in(::open(input.file.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) Fail("Impossible d'ouvrir", input.file, errno);
  RecordPlace place{scratchIndex, scratch.size, 0};
  try {
    kv::DeflateRecord(
        input.size, input.time,
        [&](std::uint8_t* buffer, std::size_t size) { return ReadSome(in.Get(), buffer, size, input.file); },
        [&](const std::uint8_t* p, std::size_t n) {
          WriteAll(scratch.file.Fd(), p, n, scratch.file.Path());
          place.size += n;
        });
  } catch (const Error& e) {
    throw Error(input.file.string() + " : " + e.what());
  }
  scratch.size += place.size;
  return place;
}

// Compresses every input, `workers` files at a time, each worker into a scratch file of its own.
// Largest files first, so that no worker is left alone with a big file at the end. Answers where
// each input's record lies. A failure stops the workers from taking further files; once all
// have stopped, the error of the failed input that comes first in input order is raised.
std::vector<RecordPlace> CompressAll(const std::vector<PackageInput>& inputs, unsigned workers,
                                     std::vector<std::unique_ptr<Scratch>>& scratches,
                                     const fs::path& output) {
  std::vector<std::size_t> order(inputs.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return inputs[a].size > inputs[b].size; });

  const std::size_t count = std::clamp<std::size_t>(workers, 1, std::max<std::size_t>(inputs.size(), 1));
  for (std::size_t w = 0; w < count; ++w) scratches.push_back(std::make_unique<Scratch>(output));

  std::vector<RecordPlace> places(inputs.size());
  std::vector<std::exception_ptr> errors(inputs.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&](std::size_t w) {
    while (!failed.load()) {
      const std::size_t at = next.fetch_add(1);
      if (at >= order.size()) return;
      const std::size_t i = order[at];
      try {
        places[i] = CompressInto(inputs[i], *scratches[w], w);
      } catch (...) {
        errors[i] = std::current_exception();
        failed = true;
      }
    }
  };
  {
    std::vector<std::jthread> threads;  // joined when leaving the block, also on a throw
    try {
      for (std::size_t w = 1; w < count; ++w) threads.emplace_back(work, w);
    } catch (...) {
      failed = true;
      throw;
    }
    work(0);
  }
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  return places;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

std::string FormatLocalTime(kv::win::FileTime time) {
  const timespec ts = kv::host::TimespecFromFileTime(time);
  tm local{};
  if (localtime_r(&ts.tv_sec, &local) == nullptr) return "?";
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  std::string fraction = std::to_string(ts.tv_nsec / 100);
  fraction.insert(0, 7 - std::min<std::size_t>(7, fraction.size()), '0');
  return std::string(text, n) + "." + fraction;
}

std::string ResourceNameFor(const fs::path& relative) {
  std::string name;
  for (const fs::path& part : relative) {
    if (!name.empty()) name += '\\';
    name += kv::text::ToUpper(part.string());
  }
  return name;
}

std::vector<PackageInput> CollectInputs(const fs::path& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) throw Error("Le dossier " + folder.string() + " est introuvable");
  std::vector<PackageInput> inputs;
  fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
  if (ec) throw Error("Impossible de lire le dossier " + folder.string() + " : " + ec.message());
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) throw Error("Impossible de lire le dossier " + folder.string() + " : " + ec.message());
    struct stat st {};
    if (::stat(it->path().c_str(), &st) != 0) Fail("Impossible de lire", it->path(), errno);
    if (!S_ISREG(st.st_mode)) continue;
    PackageInput input;
    input.file = it->path();
    input.name = ResourceNameFor(it->path().lexically_relative(folder));
    if (!kv::IsSafeResourceFileName(input.name)) {
      throw Error("Nom de fichier refusé dans le paquet : " + input.name + " (" + input.file.string() + ")");
    }
    input.size = static_cast<std::uint64_t>(st.st_size);
    input.time = kv::host::FileTimeFromTimespec(st.st_mtim);
    inputs.push_back(std::move(input));
  }
  if (ec) throw Error("Impossible de lire le dossier " + folder.string() + " : " + ec.message());
  std::sort(inputs.begin(), inputs.end(),
            [](const PackageInput& a, const PackageInput& b) { return a.name < b.name; });
  for (std::size_t i = 1; i < inputs.size(); ++i) {
    if (inputs[i].name == inputs[i - 1].name) {
      throw Error("Deux fichiers donnent la même ressource " + inputs[i].name + " : " +
                  inputs[i - 1].file.string() + " et " + inputs[i].file.string());
    }
  }
  return inputs;
}

void BuildPackage(const std::vector<PackageInput>& inputs, const fs::path& output,
                  const std::optional<fs::path>& stub, unsigned workers) {
  if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::unique_ptr<Scratch>> scratches;
  const std::vector<RecordPlace> places = CompressAll(inputs, workers, scratches, output);

  // The records stay in the scratch files; the writer streams them from their maps, in input
  // order, so the image does not depend on which worker compressed which file.
  std::vector<kv::MappedFile> records;
  records.reserve(scratches.size());
  for (const auto& scratch : scratches) {
    scratch->file.Close();
    records.emplace_back(scratch->file.Path());
  }
  kv::PeWriter writer;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    writer.AddView(kv::win::RT_RCDATA, kv::ResourceId(inputs[i].name), kv::kPackageLanguage,
                   records[places[i].scratch].Bytes().subspan(places[i].offset, places[i].size));
  }

  TemporaryBeside out(output, "part");
  std::uint64_t imageOffset = 0;
  mode_t mode = 0666 & ~CurrentUmask();
  // A Windows stub (a PE image) takes the package into its own resources, beside the ones it has
  // (its version resource, its manifest); a host stub is copied and the image appended after it.
  std::optional<kv::MappedFile> program;
  bool appended = false;
  if (stub) {
    program.emplace(*stub);
    struct stat st {};
    if (::stat(stub->c_str(), &st) != 0) Fail("Impossible de lire", *stub, errno);
    if (!S_ISREG(st.st_mode)) throw Error("Le programme " + stub->string() + " n'est pas un fichier");
    // An update executable runs like the program it copies.
    mode = (st.st_mode & 07777) | 0111;
    if (kv::PeImage::HasPeSignature(program->Bytes())) {
      try {
        const kv::PeImage own(program->Bytes());
        for (const kv::ResourceEntry& entry : own.Resources()) {
          writer.AddView(entry.type, entry.id, entry.language, entry.data);
        }
      } catch (const kv::PeFormatError& e) {
        throw Error("Le programme " + stub->string() + " est illisible : " + e.what());
      }
      writer.SetProgram(program->Bytes());
    } else {
      WriteAll(out.Fd(), program->Data(), program->Size(), out.Path());
      imageOffset = program->Size();
      appended = true;
    }
  }
  {
    std::ofstream image;
    image.rdbuf()->pubsetbuf(nullptr, 0);
    image.open(out.Path(), std::ios::binary | std::ios::in | std::ios::out);
    if (!image) Fail("Impossible d'écrire", out.Path(), errno);
    image.seekp(static_cast<std::streamoff>(imageOffset));
    writer.Write(image);
  }
  const std::uint64_t imageSize = writer.ImageSize();
  if (appended) {
    if (::lseek(out.Fd(), 0, SEEK_END) < 0) Fail("Échec de l'écriture de", out.Path(), errno);
    const auto trailer = kv::MakePackageTrailer(kv::PackageTrailer{imageOffset, imageSize});
    WriteAll(out.Fd(), trailer.data(), trailer.size(), out.Path());
  }
  if (::fchmod(out.Fd(), mode) != 0) Fail("Impossible de rendre exécutable", out.Path(), errno);
  out.RenameTo(output);
}

fs::path HostPathFor(const fs::path& folder, const std::string& name) {
  kv::ValidateResourceFileName(name);
  fs::path path = folder;
  for (const std::string& part : kv::text::Split(name, '\\')) {
    for (const std::string& piece : kv::text::Split(part, '/')) path /= piece;
  }
  return path;
}

kv::RecordHeader ExtractRecordToHostFile(std::span<const std::uint8_t> record, const fs::path& target) {
  std::error_code ec;
  if (target.has_parent_path()) {
    fs::create_directories(target.parent_path(), ec);
    if (ec)
      throw Error("Impossible de créer le dossier " + target.parent_path().string() + " : " + ec.message());
  }
  TemporaryBeside partial(target, "part");
  const kv::RecordHeader header = kv::InflateRecord(
      record, [&](const std::uint8_t* p, std::size_t n) { WriteAll(partial.Fd(), p, n, partial.Path()); });
  const timespec times[2] = {{0, UTIME_OMIT}, kv::host::TimespecFromFileTime(header.time)};
  if (::futimens(partial.Fd(), times) != 0) Fail("Impossible de dater", partial.Path(), errno);
  if (::fchmod(partial.Fd(), 0666 & ~CurrentUmask()) != 0) Fail("Impossible d'écrire", partial.Path(), errno);
  partial.RenameTo(target);
  return header;
}

}  // namespace kvpack
