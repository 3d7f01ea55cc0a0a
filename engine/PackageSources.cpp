// Where packages come from: PE files (read through a memory map, never copied), host programs
// with a PE image appended, the running Windows program's own resources, and packages built in
// memory.
#include <atomic>
#include <filesystem>

#include "engine/LittleEndian.h"
#include "engine/Package.h"
#include "formats/PeImage.h"
#include "formats/Text.h"
#include "platform/MappedFile.h"
#include "platform/Win32.h"

namespace kv {

namespace {

// Named records, each name once (the first one wins, as a lookup without language finds it).
class RecordListPackage : public PackageSource {
 public:
  std::optional<std::span<const std::uint8_t>> FindRecord(std::string_view name) const override {
    if (const Record* record = Find(name)) return record->data;
    return std::nullopt;
  }

  std::vector<std::string> Names() const override {
    std::vector<std::string> names;
    names.reserve(records_.size());
    for (const Record& record : records_) names.push_back(record.name);
    return names;
  }

 protected:
  void Add(const std::string& name, std::span<const std::uint8_t> data) {
    if (!Find(name)) records_.push_back(Record{name, data});
  }

 private:
  struct Record {
    std::string name;
    std::span<const std::uint8_t> data;  // a view of bytes the package keeps or the program holds
  };

  const Record* Find(std::string_view name) const {
    for (const Record& record : records_) {
      if (text::IEquals(record.name, name)) return &record;
    }
    return nullptr;
  }

  std::vector<Record> records_;
};

// The named RT_RCDATA resources of a mapped PE image.
class PeFilePackage : public RecordListPackage {
 public:
  PeFilePackage(MappedFile file, std::span<const std::uint8_t> image) : file_(std::move(file)) {
    const PeImage pe(image);
    for (const ResourceEntry& entry : pe.ListResources(win::RT_RCDATA)) {
      if (entry.id.named) Add(entry.id.name, entry.data);
    }
  }

 private:
  MappedFile file_;
};

// The RT_RCDATA resources of the running Windows program's own module.
class ModuleResourcePackage : public RecordListPackage {
 public:
  explicit ModuleResourcePackage(const std::vector<win::ModuleResource>& resources) {
    for (const win::ModuleResource& resource : resources) Add(resource.name, resource.data);
  }
};

std::unique_ptr<PackageSource> FromFile(MappedFile file, std::span<const std::uint8_t> image,
                                        const std::string& hostPath) {
  try {
    return std::make_unique<PeFilePackage>(std::move(file), image);
  } catch (const PeFormatError& e) {
    throw Error("Le paquet " + hostPath + " est illisible : " + e.what());
  }
}

std::atomic<const PackageSource*> currentPackage{nullptr};

}  // namespace

std::array<std::uint8_t, kPackageTrailerSize> MakePackageTrailer(const PackageTrailer& trailer) {
  std::array<std::uint8_t, kPackageTrailerSize> bytes{};
  std::copy(kPackageTrailerMagic.begin(), kPackageTrailerMagic.end(), bytes.begin());
  WriteLe64(bytes.data() + 8, trailer.imageOffset);
  WriteLe64(bytes.data() + 16, trailer.imageSize);
  return bytes;
}

std::optional<PackageTrailer> ReadPackageTrailer(std::span<const std::uint8_t> fileBytes) {
  if (fileBytes.size() < kPackageTrailerSize) return std::nullopt;
  const std::uint8_t* at = fileBytes.data() + fileBytes.size() - kPackageTrailerSize;
  if (!std::equal(kPackageTrailerMagic.begin(), kPackageTrailerMagic.end(), at)) return std::nullopt;
  const PackageTrailer trailer{ReadLe64(at + 8), ReadLe64(at + 16)};
  const std::uint64_t before = fileBytes.size() - kPackageTrailerSize;
  if (trailer.imageOffset > before || trailer.imageSize > before - trailer.imageOffset) {
    throw Error("Fin de paquet endommagée : l'image (position " + std::to_string(trailer.imageOffset) + ", " +
                std::to_string(trailer.imageSize) + " octets) dépasse le fichier de " +
                std::to_string(before) + " octets");
  }
  return trailer;
}

namespace {

// The appended package of a mapped file, which it then takes; nullptr (the file left to the
// caller) when the file has no trailer.
std::unique_ptr<PackageSource> TakeAppended(MappedFile& file, const std::string& hostPath) {
  std::optional<PackageTrailer> trailer;
  try {
    trailer = ReadPackageTrailer(file.Bytes());
  } catch (const Error& e) {
    throw Error("Le paquet " + hostPath + " est illisible : " + e.what());
  }
  if (!trailer) return nullptr;
  const auto image = file.Bytes().subspan(trailer->imageOffset, trailer->imageSize);
  return FromFile(std::move(file), image, hostPath);
}

}  // namespace

std::unique_ptr<PackageSource> OpenAppendedPackage(const std::string& hostPath) {
  MappedFile file{Utf8Path(hostPath)};
  return TakeAppended(file, hostPath);
}

std::unique_ptr<PackageSource> OpenPackageFile(const std::string& hostPath) {
  MappedFile file{Utf8Path(hostPath)};
  if (auto appended = TakeAppended(file, hostPath)) return appended;
  if (!PeImage::HasPeSignature(file.Bytes())) {
    throw Error("Le fichier " + hostPath + " ne contient pas de paquet de mise à jour");
  }
  const auto image = file.Bytes();
  return FromFile(std::move(file), image, hostPath);
}

std::unique_ptr<PackageSource> OpenRunningExecutablePackage() {
  // A Windows program carries its package in its own resources; a host program has it appended.
  if (const auto resources = win::OwnModuleResources(win::RT_RCDATA)) {
    if (resources->empty()) return nullptr;
    return std::make_unique<ModuleResourcePackage>(*resources);
  }
  return OpenAppendedPackage("/proc/self/exe");
}

void MemoryPackage::Add(const std::string& name, std::string_view content, win::FileTime time) {
  AddRecord(name, MakeRecord(content, time));
}

void MemoryPackage::AddRecord(const std::string& name, std::vector<std::uint8_t> record) {
  for (auto& [stored, bytes] : records_) {
    if (text::IEquals(stored, name)) {
      stored = name;
      bytes = std::move(record);
      return;
    }
  }
  records_.emplace_back(name, std::move(record));
}

std::optional<std::span<const std::uint8_t>> MemoryPackage::FindRecord(std::string_view name) const {
  for (const auto& [stored, bytes] : records_) {
    if (text::IEquals(stored, name)) return std::span<const std::uint8_t>(bytes);
  }
  return std::nullopt;
}

std::vector<std::string> MemoryPackage::Names() const {
  std::vector<std::string> names;
  names.reserve(records_.size());
  for (const auto& record : records_) names.push_back(record.first);
  return names;
}

void SetCurrentPackage(const PackageSource* package) {
  currentPackage.store(package);
}

const PackageSource* CurrentPackage() {
  return currentPackage.load();
}

}  // namespace kv
