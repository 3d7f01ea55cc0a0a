#include "formats/PeWriter.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>

#include "formats/Text.h"

namespace kv {

namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kPeOffset = 0x80;
constexpr std::uint32_t kSizeOfHeaders = 0x200;
constexpr std::uint32_t kRsrcRva = 0x1000;
// Windows maps no image file of 2 GiB or more.
constexpr std::uint64_t kMaxImageSize = 0x7FFFFFFF;

constexpr std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  Put32(b, at, static_cast<std::uint32_t>(v));
  Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// The order of entries in a resource directory, which Windows searches by halves: names first,
// compared as upper-case UTF-16, then ids ascending.
struct SortKey {
  bool isId;
  std::u16string name;
  std::uint32_t id;
  auto operator<=>(const SortKey&) const = default;
};

SortKey KeyOf(const ResourceId& id) {
  if (!id.named) return SortKey{true, {}, id.id};
  return SortKey{false, text::Utf8ToUtf16(text::ToUpper(id.name)), 0};
}

// The classic stub a DOS system runs instead of the image.
constexpr std::uint8_t kDosStub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                     0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
constexpr char kDosMessage[] = "This program cannot be run in DOS mode.\r\r\n$";

// The DOS header and stub, the PE headers and the one section header, at the start of `h`.
void WriteHeaders(std::vector<std::uint8_t>& h, bool pe32, std::uint64_t rsrcSize) {
  const std::uint32_t optionalSize = pe32 ? 224 : 240;
  h[0] = 'M';
  h[1] = 'Z';
  Put16(h, 0x02, 0x90);  // bytes on the last DOS page
  Put16(h, 0x04, 3);     // DOS pages
  Put16(h, 0x08, 4);     // header paragraphs
  Put16(h, 0x0C, 0xFFFF);
  Put16(h, 0x10, 0xB8);
  Put16(h, 0x18, 0x40);
  Put32(h, 0x3C, kPeOffset);
  std::memcpy(h.data() + 0x40, kDosStub, sizeof kDosStub);
  std::memcpy(h.data() + 0x40 + sizeof kDosStub, kDosMessage, sizeof kDosMessage - 1);

  std::memcpy(h.data() + kPeOffset, "PE\0\0", 4);
  const std::size_t coff = kPeOffset + 4;
  Put16(h, coff, pe32 ? 0x014C : 0x8664);
  Put16(h, coff + 2, 1);  // sections
  Put16(h, coff + 16, optionalSize);
  // Executable image, DLL; large-address aware (PE32+) or 32-bit machine (PE32).
  Put16(h, coff + 18, pe32 ? 0x2102 : 0x2022);

  const std::size_t opt = coff + 20;
  const std::uint64_t rawSize = AlignUp(rsrcSize, kFileAlignment);
  Put16(h, opt, pe32 ? 0x10B : 0x20B);
  Put32(h, opt + 8, static_cast<std::uint32_t>(rawSize));  // initialized data
  Put32(h, opt + 20, kRsrcRva);                            // base of code
  if (pe32) {
    Put32(h, opt + 24, kRsrcRva);  // base of data
    Put32(h, opt + 28, 0x10000000);
  } else {
    Put64(h, opt + 24, 0x180000000ull);
  }
  Put32(h, opt + 32, kSectionAlignment);
  Put32(h, opt + 36, kFileAlignment);
  Put16(h, opt + 40, 6);  // operating system 6.0
  Put16(h, opt + 48, 6);  // subsystem 6.0
  Put32(h, opt + 56, static_cast<std::uint32_t>(AlignUp(kRsrcRva + rsrcSize, kSectionAlignment)));
  Put32(h, opt + 60, kSizeOfHeaders);
  Put16(h, opt + 68, 2);       // Windows GUI
  Put16(h, opt + 70, 0x0500);  // NX compatible, no structured exception handlers
  const std::size_t sizes = opt + 72;
  const std::size_t word = pe32 ? 4 : 8;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::uint32_t value = i % 2 == 0 ? 0x100000 : 0x1000;  // stack, then heap: reserve, commit
    if (pe32) {
      Put32(h, sizes + i * word, value);
    } else {
      Put64(h, sizes + i * word, value);
    }
  }
  const std::size_t directories = sizes + 4 * word + 8;
  Put32(h, directories - 4, 16);
  Put32(h, directories + kResourceDataDirectory * 8, kRsrcRva);
  Put32(h, directories + kResourceDataDirectory * 8 + 4, static_cast<std::uint32_t>(rsrcSize));

  const std::size_t section = opt + optionalSize;
  std::memcpy(h.data() + section, ".rsrc", 5);
  Put32(h, section + 8, static_cast<std::uint32_t>(rsrcSize));
  Put32(h, section + 12, kRsrcRva);
  Put32(h, section + 16, static_cast<std::uint32_t>(rawSize));
  Put32(h, section + 20, kSizeOfHeaders);
  Put32(h, section + 36, 0x40000040);  // initialized data, readable
}

}  // namespace

struct PeWriter::Layout {
  std::vector<std::uint8_t> head;  // headers (a program's first sections), then the tree
  std::vector<const Resource*> order;
  std::vector<std::uint64_t> dataOffsets;  // of each resource of `order`, from the file's start
  std::uint64_t rsrcSize = 0;              // the section's virtual size
  std::uint64_t rsrcEnd = 0;               // where the section's raw data end in the file
  std::vector<std::uint8_t> tail;          // a program's sections after the resources, moved
  std::uint64_t fileSize = 0;
};

// Where the resource section goes: its RVA and file offset, and in a program, the sections before
// it (kept in place) and after it (moved after the new section).
struct PeWriter::Placement {
  std::uint32_t rva = kRsrcRva;
  std::uint64_t offset = kSizeOfHeaders;
  std::uint32_t fileAlignment = kFileAlignment;
  std::uint32_t sectionAlignment = kSectionAlignment;
  std::size_t index = 0;              // the section's index in the program's table
  std::optional<PeSection> replaced;  // the program's own resource section
  std::vector<PeSection> moved;       // the sections after it (base relocations only)
};

std::span<const std::uint8_t> PeWriter::Resource::Data() const {
  if (const auto* owned = std::get_if<std::vector<std::uint8_t>>(&bytes)) return *owned;
  return std::get<std::span<const std::uint8_t>>(bytes);
}

void PeWriter::Add(const ResourceId& type, const ResourceId& id, std::uint16_t language,
                   std::vector<std::uint8_t> data) {
  resources_.push_back(Resource{type, id, language, std::move(data)});
}

void PeWriter::AddView(const ResourceId& type, const ResourceId& id, std::uint16_t language,
                       std::span<const std::uint8_t> data) {
  resources_.push_back(Resource{type, id, language, data});
}

void PeWriter::SetProgram(std::span<const std::uint8_t> program) {
  program_ = program;
}

PeWriter::Placement PeWriter::Place() const {
  Placement placement;
  if (program_.empty()) return placement;
  const PeImage image(program_);
  const PeHeaders& headers = image.Headers();
  const std::vector<PeSection>& sections = image.Sections();
  if (sections.empty() || headers.fileAlignment == 0 || headers.sectionAlignment == 0) {
    throw PeFormatError("Le programme n'a pas de section");
  }
  placement.fileAlignment = headers.fileAlignment;
  placement.sectionAlignment = headers.sectionAlignment;
  // The resources take the place of the program's own, or of its base relocations when they come
  // last, or go after its last section.
  const PeDataDirectory resources = image.DataDirectory(kResourceDataDirectory);
  std::size_t index = sections.size();
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (resources.rva != 0 && sections[i].virtualAddress == resources.rva) index = i;
  }
  if (index == sections.size() && sections.back().name == ".reloc") index = sections.size() - 1;
  if (index < sections.size() && sections[index].virtualAddress == resources.rva)
    placement.replaced = sections[index];
  for (std::size_t i = index + (placement.replaced ? 1 : 0); i < sections.size(); ++i) {
    if (sections[i].name != ".reloc") {
      throw PeFormatError("La section " + sections[i].name + " suit les ressources du programme");
    }
    placement.moved.push_back(sections[i]);
  }
  std::uint64_t rawEnd = headers.sizeOfHeaders, virtualEnd = 0;
  for (const PeSection& section : sections) {
    rawEnd = std::max<std::uint64_t>(rawEnd, std::uint64_t{section.pointerToRawData} + section.sizeOfRawData);
    virtualEnd =
        std::max<std::uint64_t>(virtualEnd, std::uint64_t{section.virtualAddress} +
                                                std::max(section.virtualSize, section.sizeOfRawData));
  }
  // A symbol table or a signature after the sections would be cut off.
  if (program_.size() > rawEnd)
    throw PeFormatError("Le programme contient des données après sa dernière section");
  placement.index = index;
  if (index < sections.size()) {
    placement.rva = sections[index].virtualAddress;
    placement.offset = sections[index].pointerToRawData;
  } else {
    placement.rva = static_cast<std::uint32_t>(AlignUp(virtualEnd, headers.sectionAlignment));
    placement.offset = AlignUp(rawEnd, headers.fileAlignment);
  }
  return placement;
}

PeWriter::Layout PeWriter::Plan() const {
  const Placement placement = Place();
  const std::uint64_t sectionStart = placement.offset;
  const std::uint32_t sectionRva = placement.rva;
  Layout layout;
  struct Keyed {
    SortKey type, id;
    std::uint16_t language;
    const Resource* resource;
  };
  std::vector<Keyed> sorted;
  sorted.reserve(resources_.size());
  for (const Resource& r : resources_) sorted.push_back(Keyed{KeyOf(r.type), KeyOf(r.id), r.language, &r});
  std::sort(sorted.begin(), sorted.end(), [](const Keyed& a, const Keyed& b) {
    return std::tie(a.type, a.id, a.language) < std::tie(b.type, b.id, b.language);
  });
  for (std::size_t i = 1; i < sorted.size(); ++i) {
    const Keyed& a = sorted[i - 1];
    const Keyed& b = sorted[i];
    if (a.type == b.type && a.id == b.id && a.language == b.language) {
      throw Error("Ressource en double : " + b.resource->type.ToString() + "/" + b.resource->id.ToString() +
                  ", langue " + std::to_string(b.language));
    }
  }

  // The tree as groups: types, then names or ids under each type, then languages.
  struct IdGroup {
    std::size_t first, count;
  };
  struct TypeGroup {
    std::vector<IdGroup> ids;
  };
  std::vector<TypeGroup> types;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (i == 0 || !(sorted[i].type == sorted[i - 1].type)) types.push_back({});
    auto& ids = types.back().ids;
    if (ids.empty() || !(sorted[i].id == sorted[i - 1].id)) ids.push_back(IdGroup{i, 0});
    ++ids.back().count;
  }

  // Sizes of the tree's parts, laid out one after the other.
  std::uint64_t directoriesSize = 16 + 8 * types.size();
  for (const TypeGroup& t : types) {
    directoriesSize += 16 + 8 * t.ids.size();
    for (const IdGroup& g : t.ids) directoriesSize += 16 + 8 * g.count;
  }
  const std::uint64_t dataEntriesAt = directoriesSize;
  std::uint64_t stringsSize = 0;
  auto nameSize = [](const ResourceId& id) -> std::uint64_t {
    return id.named ? 2 + 2 * text::Utf8ToUtf16(id.name).size() : 0;
  };
  for (const TypeGroup& t : types) {
    stringsSize += nameSize(sorted[t.ids.front().first].resource->type);
    for (const IdGroup& g : t.ids) stringsSize += nameSize(sorted[g.first].resource->id);
  }
  const std::uint64_t stringsAt = dataEntriesAt + 16 * sorted.size();
  const std::uint64_t treeSize = AlignUp(stringsAt + stringsSize, 8);
  if (treeSize > 0x7FFFFFFF) throw Error("Image PE trop volumineuse : trop de ressources");

  std::uint64_t end = treeSize;
  layout.dataOffsets.reserve(sorted.size());
  for (const Keyed& k : sorted) {
    end = AlignUp(end, 8);
    layout.dataOffsets.push_back(sectionStart + end);
    end += k.resource->Data().size();
    layout.order.push_back(k.resource);
  }
  layout.rsrcSize = end;
  layout.rsrcEnd = sectionStart + AlignUp(end, placement.fileAlignment);
  layout.fileSize = layout.rsrcEnd;
  if (layout.fileSize > kMaxImageSize) {
    throw Error("Image PE trop volumineuse : " + std::to_string(layout.fileSize) + " octets");
  }

  std::vector<std::uint8_t>& h = layout.head;
  h.assign(sectionStart + treeSize, 0);
  if (program_.empty()) {
    WriteHeaders(h, format_ == PeFormat::Pe32, layout.rsrcSize);
  } else {
    std::copy(program_.begin(),
              program_.begin() +
                  static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(sectionStart, program_.size())),
              h.begin());
  }

  // The tree, at the section's start. Offsets inside it are from its start, data addresses RVAs.
  const std::size_t base = sectionStart;
  std::uint64_t nextDirectory = 0;
  std::uint64_t nextString = stringsAt;
  auto directory = [&](std::size_t named, std::size_t ids) {
    if (named > 0xFFFF || ids > 0xFFFF) throw Error("Image PE : trop de ressources dans un répertoire");
    const std::uint64_t at = nextDirectory;
    Put16(h, base + at + 12, static_cast<std::uint32_t>(named));
    Put16(h, base + at + 14, static_cast<std::uint32_t>(ids));
    nextDirectory += 16 + 8 * (named + ids);
    return at;
  };
  auto nameField = [&](const ResourceId& id) -> std::uint32_t {
    if (!id.named) return id.id;
    const std::u16string units = text::Utf8ToUtf16(id.name);
    if (units.size() > 0xFFFF) throw Error("Image PE : nom de ressource trop long");
    const std::uint64_t at = nextString;
    Put16(h, base + at, static_cast<std::uint32_t>(units.size()));
    for (std::size_t i = 0; i < units.size(); ++i) Put16(h, base + at + 2 + 2 * i, units[i]);
    nextString += 2 + 2 * units.size();
    return static_cast<std::uint32_t>(at) | 0x80000000u;
  };
  auto countNamed = [](auto first, auto last, auto isNamed) {
    return static_cast<std::size_t>(std::count_if(first, last, isNamed));
  };

  // Breadth first: the root, every type directory, then every name directory.
  const std::size_t namedTypes = countNamed(
      types.begin(), types.end(), [&](const TypeGroup& t) { return !sorted[t.ids[0].first].type.isId; });
  const std::uint64_t root = directory(namedTypes, types.size() - namedTypes);
  std::vector<std::uint64_t> typeDirs;
  for (const TypeGroup& t : types) {
    const std::size_t named =
        countNamed(t.ids.begin(), t.ids.end(), [&](const IdGroup& g) { return !sorted[g.first].id.isId; });
    typeDirs.push_back(directory(named, t.ids.size() - named));
  }
  std::vector<std::vector<std::uint64_t>> idDirs;
  for (const TypeGroup& t : types) {
    idDirs.emplace_back();
    for (const IdGroup& g : t.ids) idDirs.back().push_back(directory(0, g.count));
  }

  for (std::size_t ti = 0; ti < types.size(); ++ti) {
    const TypeGroup& t = types[ti];
    Put32(h, base + root + 16 + 8 * ti, nameField(sorted[t.ids[0].first].resource->type));
    Put32(h, base + root + 16 + 8 * ti + 4, static_cast<std::uint32_t>(typeDirs[ti]) | 0x80000000u);
    for (std::size_t gi = 0; gi < t.ids.size(); ++gi) {
      const IdGroup& g = t.ids[gi];
      Put32(h, base + typeDirs[ti] + 16 + 8 * gi, nameField(sorted[g.first].resource->id));
      Put32(h, base + typeDirs[ti] + 16 + 8 * gi + 4,
            static_cast<std::uint32_t>(idDirs[ti][gi]) | 0x80000000u);
      for (std::size_t li = 0; li < g.count; ++li) {
        const std::size_t index = g.first + li;
        const std::uint64_t entry = dataEntriesAt + 16 * index;
        Put32(h, base + idDirs[ti][gi] + 16 + 8 * li, sorted[index].language);
        Put32(h, base + idDirs[ti][gi] + 16 + 8 * li + 4, static_cast<std::uint32_t>(entry));
        Put32(h, base + entry,
              static_cast<std::uint32_t>(layout.dataOffsets[index] - sectionStart + sectionRva));
        Put32(h, base + entry + 4, static_cast<std::uint32_t>(sorted[index].resource->Data().size()));
      }
    }
  }
  if (!program_.empty()) PatchProgramHeaders(layout, placement);
  return layout;
}

void PeWriter::PatchProgramHeaders(Layout& layout, const Placement& placement) const {
  const PeImage program(program_);
  std::vector<std::uint8_t>& h = layout.head;
  const std::size_t coff = program.Headers().peOffset + 4;
  const std::size_t opt = coff + 20;
  const std::size_t optionalSize = program_[coff + 16] | (program_[coff + 17] << 8);
  const std::size_t table = opt + optionalSize;
  const std::size_t directories = opt + (program.Is64() ? 112 : 96);
  const std::uint32_t sa = placement.sectionAlignment;

  // The new resource section, then the moved ones one after the other.
  std::vector<PeSection> written;
  PeSection rsrc;
  rsrc.name = ".rsrc";
  rsrc.virtualSize = static_cast<std::uint32_t>(layout.rsrcSize);
  rsrc.virtualAddress = placement.rva;
  rsrc.sizeOfRawData = static_cast<std::uint32_t>(layout.rsrcEnd - placement.offset);
  rsrc.pointerToRawData = static_cast<std::uint32_t>(placement.offset);
  rsrc.characteristics = 0x40000040;  // initialized data, readable
  written.push_back(rsrc);
  std::uint64_t nextRva = AlignUp(std::uint64_t{rsrc.virtualAddress} + rsrc.virtualSize, sa);
  for (PeSection section : placement.moved) {
    const std::uint64_t rawAt = layout.fileSize;
    layout.tail.insert(layout.tail.end(), program_.begin() + section.pointerToRawData,
                       program_.begin() + section.pointerToRawData + section.sizeOfRawData);
    layout.fileSize += section.sizeOfRawData;  // a multiple of the file alignment already
    // The base relocations' directory follows its section.
    for (std::size_t d = 0; d < program.Headers().numberOfRvaAndSizes && d < 16; ++d) {
      const PeDataDirectory directory = program.DataDirectory(d);
      if (d != kResourceDataDirectory && directory.rva >= section.virtualAddress &&
          directory.rva < section.virtualAddress + std::max(section.virtualSize, section.sizeOfRawData)) {
        Put32(h, directories + d * 8,
              static_cast<std::uint32_t>(directory.rva - section.virtualAddress + nextRva));
      }
    }
    section.virtualAddress = static_cast<std::uint32_t>(nextRva);
    section.pointerToRawData = static_cast<std::uint32_t>(rawAt);
    written.push_back(section);
    nextRva = AlignUp(nextRva + std::max(section.virtualSize, section.sizeOfRawData), sa);
  }
  if (nextRva > kMaxImageSize || layout.fileSize > kMaxImageSize) {
    throw Error("Image PE trop volumineuse : " + std::to_string(layout.fileSize) + " octets");
  }

  const std::size_t count = placement.index + written.size();
  const std::size_t tableEnd = table + 40 * count;
  if (count > 0xFFFF || tableEnd > program.Headers().sizeOfHeaders) {
    throw PeFormatError("Les en-têtes du programme n'ont pas de place pour une section de plus");
  }
  Put16(h, coff + 2, static_cast<std::uint32_t>(count));
  for (std::size_t i = 0; i < written.size(); ++i) {
    const std::size_t at = table + 40 * (placement.index + i);
    std::fill(h.begin() + static_cast<std::ptrdiff_t>(at), h.begin() + static_cast<std::ptrdiff_t>(at + 40),
              0);
    std::memcpy(h.data() + at, written[i].name.data(), std::min<std::size_t>(written[i].name.size(), 8));
    Put32(h, at + 8, written[i].virtualSize);
    Put32(h, at + 12, written[i].virtualAddress);
    Put32(h, at + 16, written[i].sizeOfRawData);
    Put32(h, at + 20, written[i].pointerToRawData);
    Put32(h, at + 36, written[i].characteristics);
  }
  const std::uint32_t initialized = program_[opt + 8] | (program_[opt + 9] << 8) |
                                    (program_[opt + 10] << 16) |
                                    (static_cast<std::uint32_t>(program_[opt + 11]) << 24);
  const std::uint32_t replacedRaw = placement.replaced ? placement.replaced->sizeOfRawData : 0;
  Put32(h, opt + 8, initialized - replacedRaw + rsrc.sizeOfRawData);
  Put32(h, opt + 56, static_cast<std::uint32_t>(nextRva));  // size of the image
  Put32(h, directories + kResourceDataDirectory * 8, rsrc.virtualAddress);
  Put32(h, directories + kResourceDataDirectory * 8 + 4, rsrc.virtualSize);
  Put32(h, opt + 64, 0);  // the checksum, set once the whole file is known
}

template <typename Sink>
void PeWriter::Emit(const Layout& layout, Sink&& sink) const {
  static constexpr std::uint8_t zeros[kFileAlignment] = {};
  std::uint64_t written = 0;
  auto pad = [&](std::uint64_t to) {
    while (written < to) {
      const std::uint64_t n = std::min<std::uint64_t>(to - written, sizeof zeros);
      sink(zeros, n);
      written += n;
    }
  };
  sink(layout.head.data(), layout.head.size());
  written = layout.head.size();
  for (std::size_t i = 0; i < layout.order.size(); ++i) {
    pad(layout.dataOffsets[i]);
    const auto data = layout.order[i]->Data();
    if (!data.empty()) sink(data.data(), data.size());
    written += data.size();
  }
  pad(layout.rsrcEnd);
  if (!layout.tail.empty()) sink(layout.tail.data(), layout.tail.size());
  written += layout.tail.size();
  pad(layout.fileSize);
}

namespace {

// The image checksum of the PE format: the file's 16-bit words added with end-around carry, then
// its length (the checksum field itself counted as zero).
class PeChecksum {
 public:
  void Add(const std::uint8_t* p, std::uint64_t n) {
    for (std::uint64_t i = 0; i < n; ++i) {
      if (odd_) {
        Fold(low_ | (std::uint32_t{p[i]} << 8));
      } else {
        low_ = p[i];
      }
      odd_ = !odd_;
      ++length_;
    }
  }
  std::uint32_t Value() {
    if (odd_) Fold(low_);
    odd_ = false;
    return static_cast<std::uint32_t>(sum_ + length_);
  }

 private:
  void Fold(std::uint32_t word) {
    sum_ += word;
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
  }
  std::uint64_t sum_ = 0, length_ = 0;
  std::uint32_t low_ = 0;
  bool odd_ = false;
};

}  // namespace

PeWriter::Layout PeWriter::PlanWithChecksum() const {
  Layout layout = Plan();
  if (program_.empty()) return layout;  // a resource-only library needs none
  PeChecksum checksum;
  Emit(layout, [&](const std::uint8_t* p, std::uint64_t n) { checksum.Add(p, n); });
  Put32(layout.head, PeImage(program_).Headers().peOffset + 4 + 20 + 64, checksum.Value());
  return layout;
}

std::uint64_t PeWriter::ImageSize() const {
  return Plan().fileSize;
}

void PeWriter::Write(std::ostream& out) const {
  const Layout layout = PlanWithChecksum();
  Emit(layout, [&](const std::uint8_t* p, std::uint64_t n) {
    out.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
  });
  out.flush();
  if (!out) throw Error("Échec de l'écriture de l'image PE");
}

std::vector<std::uint8_t> PeWriter::Build() const {
  const Layout layout = PlanWithChecksum();
  std::vector<std::uint8_t> out;
  out.reserve(layout.fileSize);
  Emit(layout, [&](const std::uint8_t* p, std::uint64_t n) { out.insert(out.end(), p, p + n); });
  return out;
}

}  // namespace kv
