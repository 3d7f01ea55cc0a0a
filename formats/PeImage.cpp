#include "formats/PeImage.h"

#include <algorithm>
#include <set>

#include "formats/Text.h"

namespace kv {

namespace {

// A damaged file may claim any number of directory entries; past this many it is not a real one.
constexpr std::size_t kMaxResourceEntries = std::size_t{1} << 20;
constexpr std::size_t kMaxDataDirectories = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;

[[noreturn]] void Damaged(const std::string& what) {
  throw PeFormatError("Fichier PE endommagé : " + what);
}
[[noreturn]] void NotPe(const std::string& what) {
  throw PeFormatError("Ce fichier n'est pas une image PE : " + what);
}

bool Fits(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t size) {
  return offset <= bytes.size() && size <= bytes.size() - offset;
}

// Little-endian fields; the caller has checked the range with Fits.
std::uint16_t U16(std::span<const std::uint8_t> b, std::uint64_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::uint64_t at) {
  return static_cast<std::uint32_t>(U16(b, at)) | (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}
std::uint64_t U64(std::span<const std::uint8_t> b, std::uint64_t at) {
  return static_cast<std::uint64_t>(U32(b, at)) | (static_cast<std::uint64_t>(U32(b, at + 4)) << 32);
}

std::string Hex(std::uint64_t value) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), digits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return "0x" + s;
}

// The part of a section that the file holds, as a file range.
struct FileRange {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// Walks the three levels of the resource tree (type, name or id, language). Offsets in the tree
// are relative to the tree's start and must stay inside the section that holds it.
class ResourceWalker {
 public:
  ResourceWalker(const PeImage& image, FileRange range, std::vector<ResourceEntry>& out)
      : image_(image), bytes_(image.Bytes()), range_(range), out_(out) {}

  void Directory(std::uint32_t offset, int level, const ResourceId& type, const ResourceId& id) {
    // In a sound tree every directory has one parent; a second visit is a loop or a shared node,
    // which could otherwise make the walk endless or exponential.
    if (!visited_.insert(offset).second) Damaged("boucle dans l'arborescence des ressources");
    const std::uint64_t at = Need(offset, 16, "répertoire de ressources");
    const std::uint64_t count = std::uint64_t{U16(bytes_, at + 12)} + U16(bytes_, at + 14);
    Need(std::uint64_t{offset} + 16, count * 8, "entrées d'un répertoire de ressources");
    entries_ += count;
    if (entries_ > kMaxResourceEntries) Damaged("trop d'entrées de ressources");
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t entry = at + 16 + i * 8;
      const std::uint32_t nameField = U32(bytes_, entry);
      const std::uint32_t target = U32(bytes_, entry + 4);
      ResourceId key =
          (nameField & kHighBit) != 0 ? ResourceId(Name(nameField & ~kHighBit)) : ResourceId(nameField);
      const bool isDirectory = (target & kHighBit) != 0;
      if (level < 2) {
        if (!isDirectory) Damaged("entrée de ressource sans sous-répertoire");
        if (level == 0) {
          Directory(target & ~kHighBit, 1, key, ResourceId());
        } else {
          Directory(target & ~kHighBit, 2, type, key);
        }
      } else {
        if (isDirectory) Damaged("sous-répertoire au niveau des langues");
        if (key.named || key.id > 0xFFFF) Damaged("langue de ressource invalide");
        Data(target, type, id, static_cast<std::uint16_t>(key.id));
      }
    }
  }

 private:
  // The file offset of [offset, offset + size) of the tree, checked.
  std::uint64_t Need(std::uint64_t offset, std::uint64_t size, const char* what) const {
    const std::uint64_t available = range_.end - range_.begin;
    if (offset > available || size > available - offset) {
      Damaged(std::string(what) + " hors de la section des ressources");
    }
    return range_.begin + offset;
  }

  std::string Name(std::uint32_t offset) const {
    const std::uint64_t at = Need(offset, 2, "nom de ressource");
    const std::uint64_t length = U16(bytes_, at);
    Need(std::uint64_t{offset} + 2, length * 2, "nom de ressource");
    return text::Utf16LeBytesToUtf8(bytes_.data() + at + 2, length * 2);
  }

  void Data(std::uint32_t offset, const ResourceId& type, const ResourceId& id, std::uint16_t language) {
    const std::uint64_t at = Need(offset, 16, "entrée de données de ressource");
    const std::uint32_t rva = U32(bytes_, at);
    const std::uint32_t size = U32(bytes_, at + 4);
    const auto fileOffset = image_.RvaToOffset(rva, size);
    if (!fileOffset) {
      Damaged("données de la ressource " + type.ToString() + "/" + id.ToString() + " hors du fichier (RVA " +
              Hex(rva) + ", " + std::to_string(size) + " octets)");
    }
    out_.push_back(ResourceEntry{type, id, language, U32(bytes_, at + 8), bytes_.subspan(*fileOffset, size)});
  }

  const PeImage& image_;
  std::span<const std::uint8_t> bytes_;
  FileRange range_;
  std::vector<ResourceEntry>& out_;
  std::set<std::uint32_t> visited_;
  std::uint64_t entries_ = 0;
};

}  // namespace

bool ResourceId::Matches(const ResourceId& other) const {
  if (named != other.named) return false;
  return named ? text::IEquals(name, other.name) : id == other.id;
}

std::string ResourceId::ToString() const {
  return named ? name : "#" + std::to_string(id);
}

PeImage::PeImage(std::span<const std::uint8_t> bytes) : bytes_(bytes) {
  ReadHeaders();
  ReadResources();
}

bool PeImage::HasPeSignature(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const std::uint32_t peOffset = U32(bytes, 0x3C);
  return Fits(bytes, peOffset, 4) && bytes[peOffset] == 'P' && bytes[peOffset + 1] == 'E' &&
         bytes[peOffset + 2] == 0 && bytes[peOffset + 3] == 0;
}

void PeImage::ReadHeaders() {
  const auto b = bytes_;
  if (b.size() < 2 || b[0] != 'M' || b[1] != 'Z') NotPe("signature MZ absente");
  if (b.size() < 64) Damaged("en-tête DOS tronqué");
  PeHeaders& h = headers_;
  h.peOffset = U32(b, 0x3C);
  if (!Fits(b, h.peOffset, 4)) Damaged("en-tête PE hors du fichier");
  if (!HasPeSignature(b)) NotPe("signature PE absente");
  const std::uint64_t coff = std::uint64_t{h.peOffset} + 4;
  if (!Fits(b, coff, 20)) Damaged("en-tête COFF tronqué");
  h.machine = U16(b, coff);
  const std::uint16_t sectionCount = U16(b, coff + 2);
  h.timeDateStamp = U32(b, coff + 4);
  const std::uint16_t optionalSize = U16(b, coff + 16);
  h.characteristics = U16(b, coff + 18);

  const std::uint64_t opt = coff + 20;
  if (!Fits(b, opt, optionalSize)) Damaged("en-tête optionnel tronqué");
  if (optionalSize < 2) Damaged("en-tête optionnel absent");
  h.magic = U16(b, opt);
  std::uint64_t directoriesAt = 0;
  if (h.magic == 0x10B) {
    directoriesAt = 96;
  } else if (h.magic == 0x20B) {
    directoriesAt = 112;
  } else {
    Damaged("type d'en-tête optionnel inconnu (" + Hex(h.magic) + ")");
  }
  if (optionalSize < directoriesAt) Damaged("en-tête optionnel trop court");
  h.addressOfEntryPoint = U32(b, opt + 16);
  h.imageBase = Is64() ? U64(b, opt + 24) : U32(b, opt + 28);
  h.sectionAlignment = U32(b, opt + 32);
  h.fileAlignment = U32(b, opt + 36);
  h.sizeOfImage = U32(b, opt + 56);
  h.sizeOfHeaders = U32(b, opt + 60);
  h.checkSum = U32(b, opt + 64);
  h.subsystem = U16(b, opt + 68);
  h.dllCharacteristics = U16(b, opt + 70);
  h.numberOfRvaAndSizes = U32(b, opt + directoriesAt - 4);

  const std::uint64_t directoryCount = std::min<std::uint64_t>(h.numberOfRvaAndSizes, kMaxDataDirectories);
  if (directoryCount > (optionalSize - directoriesAt) / 8) {
    Damaged("répertoires de données hors de l'en-tête optionnel");
  }
  for (std::uint64_t i = 0; i < directoryCount; ++i) {
    const std::uint64_t at = opt + directoriesAt + i * 8;
    directories_.push_back(PeDataDirectory{U32(b, at), U32(b, at + 4)});
  }

  const std::uint64_t table = opt + optionalSize;
  if (!Fits(b, table, std::uint64_t{sectionCount} * 40)) Damaged("table des sections tronquée");
  sections_.reserve(sectionCount);
  for (std::uint64_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t at = table + i * 40;
    PeSection s;
    const auto* name = reinterpret_cast<const char*>(b.data() + at);
    s.name.assign(name, std::find(name, name + 8, '\0'));
    s.virtualSize = U32(b, at + 8);
    s.virtualAddress = U32(b, at + 12);
    s.sizeOfRawData = U32(b, at + 16);
    s.pointerToRawData = U32(b, at + 20);
    s.characteristics = U32(b, at + 36);
    sections_.push_back(std::move(s));
  }
}

PeDataDirectory PeImage::DataDirectory(std::size_t index) const {
  return index < directories_.size() ? directories_[index] : PeDataDirectory{};
}

namespace {

// Where `rva` lies in the file, up to the end of the file-backed part of what holds it.
std::optional<FileRange> RangeOf(const std::vector<PeSection>& sections, const PeHeaders& headers,
                                 std::uint64_t fileSize, std::uint32_t rva) {
  for (const PeSection& s : sections) {
    // A section whose virtual size is 0 (some linkers) is as large as its raw data.
    const std::uint64_t virtualSize = s.virtualSize != 0 ? s.virtualSize : s.sizeOfRawData;
    if (rva < s.virtualAddress || rva - s.virtualAddress >= virtualSize) continue;
    // Past its raw data a section is zero-filled memory that the file does not hold.
    const std::uint64_t backed = std::min<std::uint64_t>(virtualSize, s.sizeOfRawData);
    const std::uint64_t begin = std::uint64_t{s.pointerToRawData} + (rva - s.virtualAddress);
    const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{s.pointerToRawData} + backed, fileSize);
    if (rva - s.virtualAddress >= backed || begin > end) return std::nullopt;
    return FileRange{begin, end};
  }
  // The headers are mapped at RVA 0.
  const std::uint64_t headersEnd = std::min<std::uint64_t>(headers.sizeOfHeaders, fileSize);
  if (rva < headersEnd) return FileRange{rva, headersEnd};
  return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> PeImage::RvaToOffset(std::uint32_t rva, std::uint32_t size) const {
  const auto range = RangeOf(sections_, headers_, bytes_.size(), rva);
  if (!range || size > range->end - range->begin) return std::nullopt;
  return range->begin;
}

void PeImage::ReadResources() {
  const PeDataDirectory directory = DataDirectory(kResourceDataDirectory);
  if (directory.rva == 0 || directory.size == 0) return;
  const auto range = RangeOf(sections_, headers_, bytes_.size(), directory.rva);
  if (!range) Damaged("répertoire des ressources hors du fichier (RVA " + Hex(directory.rva) + ")");
  ResourceWalker(*this, *range, resources_).Directory(0, 0, ResourceId(), ResourceId());
}

std::optional<ResourceEntry> PeImage::Find(std::uint32_t type, const ResourceId& id,
                                           std::optional<std::uint16_t> language) const {
  const ResourceId typeId(type);
  for (const ResourceEntry& e : resources_) {
    if (e.type == typeId && e.id.Matches(id) && (!language || e.language == *language)) return e;
  }
  return std::nullopt;
}

std::optional<ResourceEntry> PeImage::FindResource(std::uint32_t type, std::string_view name,
                                                   std::optional<std::uint16_t> language) const {
  return Find(type, ResourceId(name), language);
}

std::optional<ResourceEntry> PeImage::FindResource(std::uint32_t type, std::uint32_t id,
                                                   std::optional<std::uint16_t> language) const {
  return Find(type, ResourceId(id), language);
}

std::optional<ResourceEntry> PeImage::FindFirstResource(std::uint32_t type) const {
  const ResourceId typeId(type);
  for (const ResourceEntry& e : resources_) {
    if (e.type == typeId) return e;
  }
  return std::nullopt;
}

std::vector<ResourceEntry> PeImage::ListResources(std::uint32_t type) const {
  const ResourceId typeId(type);
  std::vector<ResourceEntry> out;
  for (const ResourceEntry& e : resources_) {
    if (e.type == typeId) out.push_back(e);
  }
  return out;
}

}  // namespace kv
