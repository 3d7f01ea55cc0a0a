// The record of a packaged file: the zlib stream of length, FILETIME and content.
#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>

#include "engine/Package.h"
#include "tests/support/PackageFixtures.h"

namespace kv {
namespace {

using test::RandomBytes;
using test::RecordPayload;
using test::WordText;
using test::ZlibStream;

constexpr win::FileTime kTime = 132567987061234567ULL;  // 2021-02-03 04:05:06.1234567 UTC

struct Inflated {
  RecordHeader header;
  std::string content;
  std::size_t pieces = 0;
  std::size_t largestPiece = 0;
  bool emptyPiece = false;
};

Inflated Inflate(std::span<const std::uint8_t> record) {
  Inflated out;
  out.header = InflateRecord(record, [&](const std::uint8_t* p, std::size_t n) {
    out.content.append(reinterpret_cast<const char*>(p), n);
    ++out.pieces;
    out.largestPiece = std::max(out.largestPiece, n);
    out.emptyPiece = out.emptyPiece || n == 0;
  });
  return out;
}

TEST(PackageRecord, RoundTripsContentAndTimeInBoundedPieces) {
  const struct {
    const char* label;
    std::string content;
  } cases[] = {
      {"empty", ""},
      {"one byte", "x"},
      {"exactly one piece", RandomBytes(kRecordPieceSize, 1)},
      {"one byte more than a piece", RandomBytes(kRecordPieceSize + 1, 2)},
      {"random, many pieces", RandomBytes(700 * 1024, 3)},
      {"text, many pieces", WordText(3 * 1024 * 1024, 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto record = MakeRecord(c.content, kTime);
    const Inflated got = Inflate(record);
    EXPECT_EQ(got.header.length, c.content.size());
    EXPECT_EQ(got.header.time, kTime);
    EXPECT_TRUE(got.content == c.content);
    EXPECT_LE(got.largestPiece, kRecordPieceSize);
    EXPECT_FALSE(got.emptyPiece);
    EXPECT_EQ(got.pieces, (c.content.size() + kRecordPieceSize - 1) / kRecordPieceSize);
    const RecordHeader header = ReadRecordHeader(record);
    EXPECT_EQ(header.length, c.content.size());
    EXPECT_EQ(header.time, kTime);
  }
}

TEST(PackageRecord, IsTheZlibStreamOfHeaderAndContentAtBestLevel) {
  const std::string content = WordText(200000, 5);
  const auto record = MakeRecord(content, kTime);
  // Byte for byte what zlib writes at its best level for the 16-byte header and the content.
  EXPECT_EQ(record, ZlibStream(RecordPayload(content.size(), kTime, content), Z_BEST_COMPRESSION));
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(record[1] >> 6, 3) << "the zlib header's level field says best compression";
  EXPECT_EQ(MakeRecord(content, kTime), record);
}

TEST(PackageRecord, ReadsStreamsOfAnyLevelAndWindowSize) {
  const std::string content = WordText(150000, 6) + RandomBytes(20000, 7);
  const std::string payload = RecordPayload(content.size(), kTime, content);
  for (const int level : {0, 1, 6, 9}) {
    for (const int windowBits : {9, 12, 15}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", window " + std::to_string(windowBits));
      const Inflated got = Inflate(ZlibStream(payload, level, windowBits));
      EXPECT_EQ(got.header.time, kTime);
      EXPECT_TRUE(got.content == content);
    }
  }
}

TEST(PackageRecord, HandsOutNoMoreThanTheLengthItsHeaderGives) {
  const std::string content = "Common\r\n";
  const struct {
    const char* label;
    std::vector<std::uint8_t> record;
  } cases[] = {
      {"bytes after the content", ZlibStream(RecordPayload(8, kTime, content + RandomBytes(300000, 8)), 9)},
      {"high 32 bits of the length set",
       ZlibStream(RecordPayload((std::uint64_t{7} << 32) | 8, kTime, content), 9)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Inflated got = Inflate(c.record);
    EXPECT_EQ(got.header.length, 8u);
    EXPECT_EQ(got.content, content);
  }
}

TEST(PackageRecord, RaisesOnDamageOrShortContent) {
  const std::string content = WordText(100000, 9);
  const auto good = MakeRecord(content, kTime);
  auto flipped = good;
  flipped[flipped.size() / 2] ^= 0x55;
  auto badChecksum = good;
  badChecksum.back() ^= 0x01;
  std::vector<std::uint8_t> withDictionary = {0x78, 0xBB, 0, 0, 0, 1};  // FDICT set, (0x78BB % 31 == 0)

  const struct {
    const char* label;
    std::vector<std::uint8_t> record;
    const char* messagePart;
  } cases[] = {
      {"not zlib", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, "endommagées"},
      {"truncated in the middle", std::vector<std::uint8_t>(good.begin(), good.begin() + good.size() / 2),
       "tronquées"},
      {"one byte flipped", flipped, "endommagée"},
      {"wrong checksum", badChecksum, "endommagées"},
      {"stream without its end", test::UnfinishedZlibStream(RecordPayload(content.size(), kTime, content)),
       "tronquées"},
      {"preset dictionary", withDictionary, "dictionnaire"},
      {"empty", {}, "tronquées"},
      {"content shorter than the length", ZlibStream(RecordPayload(100, kTime, std::string(60, 'a')), 9),
       "60 octets au lieu des 100"},
      {"header shorter than 16 bytes", ZlibStream(RecordPayload(0, kTime, "").substr(0, 10), 9), "en-tête"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      Inflate(c.record);
      ADD_FAILURE() << "no error raised";
    } catch (const DamagedRecordError& e) {
      EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos) << e.what();
    }
  }
}

// A time no file can carry (Windows refuses any later than MAX_FILETIME) is damage of the package,
// refused before any content comes out; MAX_FILETIME itself is a time like any other.
TEST(PackageRecord, ATimeBeyondTheLastPossibleDateIsDamage) {
  for (const win::FileTime time :
       {win::FileTime{0x8000000000000000ULL}, win::FileTime{0xFFFFFFFFFFFFFFFFULL}}) {
    SCOPED_TRACE(time);
    const auto record = ZlibStream(RecordPayload(3, time, "abc"), 9);
    int pieces = 0;
    for (const bool headerOnly : {true, false}) {
      try {
        if (headerOnly) {
          ReadRecordHeader(record);
        } else {
          InflateRecord(record, [&](const std::uint8_t*, std::size_t) { ++pieces; });
        }
        ADD_FAILURE() << "no error raised";
      } catch (const DamagedRecordError& e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(time)), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(pieces, 0);
    EXPECT_THROW(MakeRecord("abc", time), Error);
  }
  const auto last = MakeRecord("abc", win::MAX_FILETIME);
  EXPECT_EQ(ReadRecordHeader(last).time, win::MAX_FILETIME);
  EXPECT_EQ(Inflate(last).content, "abc");
}

TEST(PackageRecord, LetsTheSinksOwnErrorsThrough) {
  const auto record = MakeRecord(RandomBytes(300000, 10), kTime);
  int calls = 0;
  EXPECT_THROW(InflateRecord(record,
                             [&](const std::uint8_t*, std::size_t) {
                               if (++calls == 2) throw std::runtime_error("disk full");
                             }),
               std::runtime_error);
  EXPECT_EQ(calls, 2) << "inflating stops at the sink's error";
}

TEST(PackageRecord, DeflatesFromASourceInPiecesAndChecksItsLength) {
  const std::string content = RandomBytes(500000, 11);
  auto sourceOf = [](const std::string& data) {
    return [&data, at = std::size_t{0}](std::uint8_t* buffer, std::size_t size) mutable {
      const std::size_t n = std::min(size, data.size() - at);
      std::copy_n(data.data() + at, n, buffer);
      at += n;
      return n;
    };
  };
  std::vector<std::uint8_t> record;
  std::size_t largestOut = 0;
  DeflateRecord(content.size(), kTime, sourceOf(content), [&](const std::uint8_t* p, std::size_t n) {
    record.insert(record.end(), p, p + n);
    largestOut = std::max(largestOut, n);
  });
  EXPECT_EQ(record, MakeRecord(content, kTime));
  EXPECT_LE(largestOut, kRecordPieceSize);

  const auto ignore = [](const std::uint8_t*, std::size_t) {};
  EXPECT_THROW(DeflateRecord(content.size() + 1, kTime, sourceOf(content), ignore), Error)
      << "source too short";
  EXPECT_THROW(DeflateRecord(content.size() - 1, kTime, sourceOf(content), ignore), Error)
      << "source too long";
  bool read = false;
  EXPECT_THROW(DeflateRecord(
                   std::uint64_t{1} << 32, kTime,
                   [&](std::uint8_t*, std::size_t) {
                     read = true;
                     return std::size_t{0};
                   },
                   ignore),
               Error);
  EXPECT_FALSE(read) << "a length beyond 32 bits is refused before reading";
}

}  // namespace
}  // namespace kv
