#include "tests/support/PackageFixtures.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <random>
#include <stdexcept>

namespace kv::test {

namespace {

std::vector<std::uint8_t> Deflate(std::string_view payload, int level, int windowBits, int finalFlush) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::vector<std::uint8_t> out(deflateBound(&z, payload.size()) + 64);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  z.avail_in = static_cast<uInt>(payload.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, finalFlush);
  const bool ok = finalFlush == Z_FINISH ? rc == Z_STREAM_END : rc == Z_OK;
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  if (!ok) throw std::runtime_error("deflate failed");
  return out;
}

}  // namespace

std::string RecordPayload(std::uint64_t lengthField, std::uint64_t time, std::string_view content) {
  std::string bytes(16, '\0');
  for (int i = 0; i < 8; ++i) {
    bytes[i] = static_cast<char>(lengthField >> (8 * i));
    bytes[8 + i] = static_cast<char>(time >> (8 * i));
  }
  bytes.append(content);
  return bytes;
}

std::vector<std::uint8_t> ZlibStream(std::string_view payload, int level, int windowBits) {
  return Deflate(payload, level, windowBits, Z_FINISH);
}

std::vector<std::uint8_t> UnfinishedZlibStream(std::string_view payload) {
  return Deflate(payload, Z_BEST_COMPRESSION, 15, Z_FULL_FLUSH);
}

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

std::string WordText(std::size_t size, std::uint32_t seed) {
  static const std::array<const char*, 16> words = {
      "mise", "à",       "jour",    "fichier", "société", "version", "liste",     "impression",
      "base", "données", "Korvane", "commun",  "paquet",  "dossier", "programme", "rapport"};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) {
    text += words[random() % words.size()];
    text += random() % 12 == 0 ? "\r\n" : " ";
  }
  text.resize(size);
  return text;
}

}  // namespace kv::test
