// The record of one packaged file: a zlib stream of the 16-byte header and the content, inflated
// and deflated in bounded pieces so that packaged files of any size stream through.
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <string>

#include "engine/LittleEndian.h"
#include "engine/Package.h"

namespace kv {

namespace {

constexpr std::size_t kHeaderSize = 16;
// zlib counts input in 32-bit units; a larger record is fed in slices.
constexpr std::size_t kMaxInputSlice = std::size_t{1} << 30;
constexpr std::size_t kMinDrainBuffer = 4096;

std::string ZlibText(const z_stream& z, int rc) {
  if (z.msg != nullptr) return z.msg;
  if (rc == Z_NEED_DICT) return "dictionnaire prédéfini requis";
  return "code zlib " + std::to_string(rc);
}

// An inflate stream over a whole record; reads fill the caller's buffer as far as the stream goes.
class Inflater {
 public:
  explicit Inflater(std::span<const std::uint8_t> record) : input_(record) {
    // 15: the largest window, which accepts streams written with any smaller one.
    const int rc = inflateInit2(&z_, 15);
    if (rc != Z_OK) throw Error("Impossible d'initialiser la décompression : " + ZlibText(z_, rc));
  }
  ~Inflater() { inflateEnd(&z_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Fills `size` bytes, or fewer when the stream ends there.
  std::size_t Read(std::uint8_t* out, std::size_t size) {
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(size);
    while (z_.avail_out > 0 && !ended_) {
      if (z_.avail_in == 0 && consumed_ < input_.size()) {
        const std::size_t slice = std::min(kMaxInputSlice, input_.size() - consumed_);
        z_.next_in = const_cast<Bytef*>(input_.data() + consumed_);  // zlib never writes its input
        z_.avail_in = static_cast<uInt>(slice);
        consumed_ += slice;
      }
      const int rc = inflate(&z_, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        ended_ = true;
      } else if (rc == Z_BUF_ERROR && z_.avail_in == 0 && consumed_ == input_.size()) {
        throw DamagedRecordError("Données compressées tronquées : le flux zlib s'arrête avant sa fin");
      } else if (rc == Z_MEM_ERROR) {
        throw Error("Mémoire insuffisante pour la décompression");
      } else if (rc != Z_OK) {
        throw DamagedRecordError("Données compressées endommagées : " + ZlibText(z_, rc));
      }
    }
    return size - z_.avail_out;
  }

 private:
  std::span<const std::uint8_t> input_;
  std::size_t consumed_ = 0;
  z_stream z_{};
  bool ended_ = false;
};

RecordHeader ReadHeader(Inflater& inflater) {
  std::uint8_t head[kHeaderSize];
  const std::size_t got = inflater.Read(head, sizeof head);
  if (got < sizeof head) {
    throw DamagedRecordError("Ressource endommagée : en-tête de " + std::to_string(got) +
                             " octets au lieu de " + std::to_string(kHeaderSize));
  }
  // Only the low 32 bits of the length count.
  const RecordHeader header{static_cast<std::uint32_t>(ReadLe64(head)), ReadLe64(head + 8)};
  // No file ever carried a later time: Windows refuses it, and it names no date.
  if (header.time > win::MAX_FILETIME) {
    throw DamagedRecordError("Ressource endommagée : la date du fichier (" + std::to_string(header.time) +
                             ") est hors des dates possibles");
  }
  return header;
}

class Deflater {
 public:
  Deflater() {
    const int rc = deflateInit(&z_, Z_BEST_COMPRESSION);
    if (rc != Z_OK) throw Error("Impossible d'initialiser la compression : " + ZlibText(z_, rc));
  }
  ~Deflater() { deflateEnd(&z_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  void Put(const std::uint8_t* data, std::size_t size, bool finish, const RecordSink& sink) {
    z_.next_in = const_cast<Bytef*>(data);  // zlib never writes its input
    z_.avail_in = static_cast<uInt>(size);
    const int flush = finish ? Z_FINISH : Z_NO_FLUSH;
    for (;;) {
      z_.next_out = out_;
      z_.avail_out = sizeof out_;
      const int rc = deflate(&z_, flush);
      if (rc == Z_STREAM_ERROR) throw Error("Échec de la compression : " + ZlibText(z_, rc));
      const std::size_t produced = sizeof out_ - z_.avail_out;
      if (produced > 0) sink(out_, produced);
      if (finish ? rc == Z_STREAM_END : (z_.avail_in == 0 && z_.avail_out > 0)) return;
    }
  }

 private:
  z_stream z_{};
  std::uint8_t out_[kRecordPieceSize];
};

}  // namespace

RecordHeader InflateRecord(std::span<const std::uint8_t> record,
                           const std::function<void(const RecordHeader&)>& onHeader, const RecordSink& sink) {
  Inflater inflater(record);
  const RecordHeader header = ReadHeader(inflater);
  if (onHeader) onHeader(header);

  std::vector<std::uint8_t> piece(std::clamp<std::size_t>(header.length, kMinDrainBuffer, kRecordPieceSize));
  std::uint64_t done = 0;
  while (done < header.length) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), header.length - done));
    const std::size_t n = inflater.Read(piece.data(), want);
    if (n > 0 && sink) sink(piece.data(), n);
    done += n;
    if (n < want) {
      throw DamagedRecordError("Ressource endommagée : le contenu compte " + std::to_string(done) +
                               " octets au lieu des " + std::to_string(header.length) + " annoncés");
    }
  }
  // What follows the content is not used, but the stream must end intact: its checksum is what
  // tells damaged content from sound content.
  while (inflater.Read(piece.data(), piece.size()) == piece.size()) {
  }
  return header;
}

RecordHeader InflateRecord(std::span<const std::uint8_t> record, const RecordSink& sink) {
  return InflateRecord(record, nullptr, sink);
}

RecordHeader ReadRecordHeader(std::span<const std::uint8_t> record) {
  Inflater inflater(record);
  return ReadHeader(inflater);
}

void DeflateRecord(std::uint64_t length, win::FileTime time, const RecordSource& source,
                   const RecordSink& sink) {
  if (length > std::numeric_limits<std::uint32_t>::max()) {
    throw Error("Fichier trop volumineux pour le paquet : " + std::to_string(length) +
                " octets (au plus 4 Gio - 1)");
  }
  if (time > win::MAX_FILETIME) {
    throw Error("Date de fichier hors des dates possibles : " + std::to_string(time));
  }
  auto deflater = std::make_unique<Deflater>();  // its output buffer is too large for the stack
  std::uint8_t head[kHeaderSize];
  WriteLe64(head, length);
  WriteLe64(head + 8, time);
  deflater->Put(head, sizeof head, length == 0, sink);

  std::vector<std::uint8_t> piece(kRecordPieceSize);
  std::uint64_t done = 0;
  while (done < length) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), length - done));
    const std::size_t n = source(piece.data(), want);
    if (n == 0) {
      throw Error("Le fichier a raccourci pendant sa lecture : " + std::to_string(done) +
                  " octets lus au lieu de " + std::to_string(length));
    }
    done += n;
    deflater->Put(piece.data(), n, done == length, sink);
  }
  std::uint8_t extra = 0;
  if (source(&extra, 1) != 0) {
    throw Error("Le fichier a grandi pendant sa lecture : plus de " + std::to_string(length) + " octets");
  }
}

std::vector<std::uint8_t> MakeRecord(std::string_view content, win::FileTime time) {
  std::vector<std::uint8_t> record;
  std::size_t at = 0;
  DeflateRecord(
      content.size(), time,
      [&](std::uint8_t* buffer, std::size_t size) {
        const std::size_t n = std::min(size, content.size() - at);
        std::copy_n(content.data() + at, n, buffer);
        at += n;
        return n;
      },
      [&](const std::uint8_t* p, std::size_t n) { record.insert(record.end(), p, p + n); });
  return record;
}

}  // namespace kv
