#include "formats/RtfReader.h"

#include <algorithm>
#include <array>
#include <map>
#include <unordered_map>
#include <utility>

#include "formats/Text.h"

namespace kv::rtf {

namespace {

// The upper half (0x80..0xFF) of a single-byte code page; U+FFFD marks unassigned bytes.
using HighHalf = std::array<char16_t, 128>;

// clang-format off
constexpr HighHalf kCp1250 = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021, 0xFFFD, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};
constexpr HighHalf kCp1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
constexpr HighHalf kCp1253 = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0xFFFD, 0x2030, 0xFFFD, 0x2039, 0xFFFD,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0xFFFD, 0x203A, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x00A0, 0x0385, 0x0386, 0x00A3, 0x00A4, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0xFFFD, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x2015, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x0384, 0x00B5, 0x00B6, 0x00B7, 0x0388, 0x0389, 0x038A, 0x00BB, 0x038C, 0x00BD, 0x038E, 0x038F, 0x0390,
    0x0391, 0x0392, 0x0393, 0x0394, 0x0395, 0x0396, 0x0397, 0x0398, 0x0399, 0x039A, 0x039B, 0x039C, 0x039D,
    0x039E, 0x039F, 0x03A0, 0x03A1, 0xFFFD, 0x03A3, 0x03A4, 0x03A5, 0x03A6, 0x03A7, 0x03A8, 0x03A9, 0x03AA,
    0x03AB, 0x03AC, 0x03AD, 0x03AE, 0x03AF, 0x03B0, 0x03B1, 0x03B2, 0x03B3, 0x03B4, 0x03B5, 0x03B6, 0x03B7,
    0x03B8, 0x03B9, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BE, 0x03BF, 0x03C0, 0x03C1, 0x03C2, 0x03C3, 0x03C4,
    0x03C5, 0x03C6, 0x03C7, 0x03C8, 0x03C9, 0x03CA, 0x03CB, 0x03CC, 0x03CD, 0x03CE, 0xFFFD,
};
constexpr HighHalf kCp1254 = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
    0x0161, 0x203A, 0x0153, 0xFFFD, 0xFFFD, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0,
    0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD,
    0x00CE, 0x00CF, 0x011E, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA,
    0x00DB, 0x00DC, 0x0130, 0x015E, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x011F, 0x00F1, 0x00F2, 0x00F3, 0x00F4,
    0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0131, 0x015F, 0x00FF,
};
constexpr HighHalf kCp1255 = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0xFFFD, 0x2039, 0xFFFD,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
    0xFFFD, 0x203A, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x20AA, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x00D7, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00F7, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x05B0,
    0x05B1, 0x05B2, 0x05B3, 0x05B4, 0x05B5, 0x05B6, 0x05B7, 0x05B8, 0x05B9, 0xFFFD, 0x05BB, 0x05BC, 0x05BD,
    0x05BE, 0x05BF, 0x05C0, 0x05C1, 0x05C2, 0x05C3, 0x05F0, 0x05F1, 0x05F2, 0x05F3, 0x05F4, 0xFFFD, 0xFFFD,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x05D0, 0x05D1, 0x05D2, 0x05D3, 0x05D4, 0x05D5, 0x05D6, 0x05D7,
    0x05D8, 0x05D9, 0x05DA, 0x05DB, 0x05DC, 0x05DD, 0x05DE, 0x05DF, 0x05E0, 0x05E1, 0x05E2, 0x05E3, 0x05E4,
    0x05E5, 0x05E6, 0x05E7, 0x05E8, 0x05E9, 0x05EA, 0xFFFD, 0xFFFD, 0x200E, 0x200F, 0xFFFD,
};
constexpr HighHalf kCp1256 = {
    0x20AC, 0x067E, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0679, 0x2039, 0x0152,
    0x0686, 0x0698, 0x0688, 0x06AF, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x06A9, 0x2122,
    0x0691, 0x203A, 0x0153, 0x200C, 0x200D, 0x06BA, 0x00A0, 0x060C, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x06BE, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x061B, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x061F, 0x06C1,
    0x0621, 0x0622, 0x0623, 0x0624, 0x0625, 0x0626, 0x0627, 0x0628, 0x0629, 0x062A, 0x062B, 0x062C, 0x062D,
    0x062E, 0x062F, 0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x0636, 0x00D7, 0x0637, 0x0638, 0x0639,
    0x063A, 0x0640, 0x0641, 0x0642, 0x0643, 0x00E0, 0x0644, 0x00E2, 0x0645, 0x0646, 0x0647, 0x0648, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x0649, 0x064A, 0x00EE, 0x00EF, 0x064B, 0x064C, 0x064D, 0x064E, 0x00F4,
    0x064F, 0x0650, 0x00F7, 0x0651, 0x00F9, 0x0652, 0x00FB, 0x00FC, 0x200E, 0x200F, 0x06D2,
};
constexpr HighHalf kCp1257 = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021, 0xFFFD, 0x2030, 0xFFFD, 0x2039, 0xFFFD,
    0x00A8, 0x02C7, 0x00B8, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0xFFFD, 0x203A, 0xFFFD, 0x00AF, 0x02DB, 0xFFFD, 0x00A0, 0xFFFD, 0x00A2, 0x00A3, 0x00A4, 0xFFFD, 0x00A6,
    0x00A7, 0x00D8, 0x00A9, 0x0156, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00C6, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00F8, 0x00B9, 0x0157, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00E6, 0x0104,
    0x012E, 0x0100, 0x0106, 0x00C4, 0x00C5, 0x0118, 0x0112, 0x010C, 0x00C9, 0x0179, 0x0116, 0x0122, 0x0136,
    0x012A, 0x013B, 0x0160, 0x0143, 0x0145, 0x00D3, 0x014C, 0x00D5, 0x00D6, 0x00D7, 0x0172, 0x0141, 0x015A,
    0x016A, 0x00DC, 0x017B, 0x017D, 0x00DF, 0x0105, 0x012F, 0x0101, 0x0107, 0x00E4, 0x00E5, 0x0119, 0x0113,
    0x010D, 0x00E9, 0x017A, 0x0117, 0x0123, 0x0137, 0x012B, 0x013C, 0x0161, 0x0144, 0x0146, 0x00F3, 0x014D,
    0x00F5, 0x00F6, 0x00F7, 0x0173, 0x0142, 0x015B, 0x016B, 0x00FC, 0x017C, 0x017E, 0x02D9,
};
constexpr HighHalf kCp1258 = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0xFFFD, 0x2039, 0x0152,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
    0xFFFD, 0x203A, 0x0153, 0xFFFD, 0xFFFD, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x0300, 0x00CD,
    0x00CE, 0x00CF, 0x0110, 0x00D1, 0x0309, 0x00D3, 0x00D4, 0x01A0, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA,
    0x00DB, 0x00DC, 0x01AF, 0x0303, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x0301, 0x00ED, 0x00EE, 0x00EF, 0x0111, 0x00F1, 0x0323, 0x00F3, 0x00F4,
    0x01A1, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x01B0, 0x20AB, 0x00FF,
};
constexpr HighHalf kCp874 = {
    0x20AC, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x2026, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0xFFFD,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x00A0, 0x0E01, 0x0E02, 0x0E03, 0x0E04, 0x0E05, 0x0E06,
    0x0E07, 0x0E08, 0x0E09, 0x0E0A, 0x0E0B, 0x0E0C, 0x0E0D, 0x0E0E, 0x0E0F, 0x0E10, 0x0E11, 0x0E12, 0x0E13,
    0x0E14, 0x0E15, 0x0E16, 0x0E17, 0x0E18, 0x0E19, 0x0E1A, 0x0E1B, 0x0E1C, 0x0E1D, 0x0E1E, 0x0E1F, 0x0E20,
    0x0E21, 0x0E22, 0x0E23, 0x0E24, 0x0E25, 0x0E26, 0x0E27, 0x0E28, 0x0E29, 0x0E2A, 0x0E2B, 0x0E2C, 0x0E2D,
    0x0E2E, 0x0E2F, 0x0E30, 0x0E31, 0x0E32, 0x0E33, 0x0E34, 0x0E35, 0x0E36, 0x0E37, 0x0E38, 0x0E39, 0x0E3A,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x0E3F, 0x0E40, 0x0E41, 0x0E42, 0x0E43, 0x0E44, 0x0E45, 0x0E46, 0x0E47,
    0x0E48, 0x0E49, 0x0E4A, 0x0E4B, 0x0E4C, 0x0E4D, 0x0E4E, 0x0E4F, 0x0E50, 0x0E51, 0x0E52, 0x0E53, 0x0E54,
    0x0E55, 0x0E56, 0x0E57, 0x0E58, 0x0E59, 0x0E5A, 0x0E5B, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD,
};
constexpr HighHalf kCp437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
constexpr HighHalf kCp850 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
    0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};
constexpr HighHalf kCp10000 = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};
// clang-format on

// Code page 1252 as the rest of the program decodes it.
const HighHalf& Cp1252() {
  static const HighHalf table = [] {
    HighHalf t{};
    for (int b = 0x80; b < 0x100; ++b) {
      const std::u16string unit = text::Utf8ToUtf16(text::Cp1252ToUtf8(std::string(1, static_cast<char>(b))));
      t[b - 0x80] = unit.size() == 1 ? unit[0] : u'\uFFFD';
    }
    return t;
  }();
  return table;
}

struct CodePageTable {
  int codePage;
  const HighHalf* table;
};

// clang-format off
constexpr std::array<CodePageTable, 12> kCodePages = {{
    {1250, &kCp1250}, {1251, &kCp1251}, {1253, &kCp1253}, {1254, &kCp1254}, {1255, &kCp1255},
    {1256, &kCp1256}, {1257, &kCp1257}, {1258, &kCp1258}, {874, &kCp874}, {437, &kCp437},
    {850, &kCp850}, {10000, &kCp10000}}};
// clang-format on

// Double-byte code pages are not decoded; their text nearly always comes with a \u form, and
// the rest reads as 1252 rather than vanishing.
const HighHalf& HighHalfOf(int codePage) {
  for (const CodePageTable& entry : kCodePages) {
    if (entry.codePage == codePage) return *entry.table;
  }
  return Cp1252();
}

struct CharsetCodePage {
  int charset;
  int codePage;
};

// The Windows character sets of \fcharset and their code pages.
// clang-format off
constexpr std::array<CharsetCodePage, 17> kCharsets = {{
    {0, 1252}, {77, 10000}, {128, 932}, {129, 949}, {134, 936}, {136, 950}, {161, 1253}, {162, 1254},
    {163, 1258}, {177, 1255}, {178, 1256}, {186, 1257}, {204, 1251}, {222, 874}, {238, 1250},
    {254, 437}, {255, 850}}};
// clang-format on

// 0: the document's code page (\ansicpg), which DEFAULT_CHARSET and unknown sets follow.
int CodePageOfCharset(int charset) {
  for (const CharsetCodePage& entry : kCharsets) {
    if (entry.charset == charset) return entry.codePage;
  }
  return 0;
}

// Symbol fonts (\fcharset2) draw their own glyphs for byte values; bullets of lists are written
// that way, so the common glyphs become their Unicode characters.
enum class Glyphs : std::uint8_t { Text, Symbol, Wingdings, OtherSymbol };

struct Glyph {
  std::uint8_t byte;
  char16_t unit;
};

// clang-format off
constexpr Glyph kSymbolGlyphs[] = {
    {0x2D, u'\u2212'}, {0xA2, u'\u2032'}, {0xA3, u'\u2264'}, {0xA5, u'\u221E'}, {0xA7, u'\u2663'},
    {0xA8, u'\u2666'}, {0xA9, u'\u2665'}, {0xAA, u'\u2660'}, {0xAB, u'\u2194'}, {0xAC, u'\u2190'},
    {0xAD, u'\u2191'}, {0xAE, u'\u2192'}, {0xAF, u'\u2193'}, {0xB0, u'\u00B0'}, {0xB1, u'\u00B1'},
    {0xB2, u'\u2033'}, {0xB3, u'\u2265'}, {0xB4, u'\u00D7'}, {0xB7, u'\u2022'}, {0xB8, u'\u00F7'},
    {0xB9, u'\u2260'}, {0xBA, u'\u2261'}, {0xBB, u'\u2248'}, {0xBC, u'\u2026'}, {0xD6, u'\u221A'},
};

constexpr Glyph kWingdingsGlyphs[] = {
    {0x4A, u'\u263A'}, {0x6C, u'\u25CF'}, {0x6E, u'\u25A0'}, {0x71, u'\u2751'}, {0x75, u'\u25C6'},
    {0x76, u'\u2756'}, {0xA7, u'\u25AA'}, {0xD8, u'\u27A2'}, {0xE8, u'\u2794'}, {0xFB, u'\u2718'},
    {0xFC, u'\u2714'},
};
// clang-format on

template <std::size_t N>
char16_t FindGlyph(const Glyph (&glyphs)[N], std::uint8_t b) {
  for (const Glyph& glyph : glyphs) {
    if (glyph.byte == b) return glyph.unit;
  }
  return 0;
}

char16_t SymbolGlyph(std::uint8_t b) {
  static constexpr std::u16string_view kUpper = u"ΑΒΧΔΕΦΓΗΙϑΚΛΜΝΟΠΘΡΣΤΥςΩΞΨΖ";
  static constexpr std::u16string_view kLower = u"αβχδεφγηιϕκλμνοπθρστυϖωξψζ";
  if (b >= 'A' && b <= 'Z') return kUpper[b - 'A'];
  if (b >= 'a' && b <= 'z') return kLower[b - 'a'];
  return FindGlyph(kSymbolGlyphs, b);
}

char16_t DecodeByte(std::uint8_t b, int codePage, Glyphs glyphs) {
  char16_t glyph = 0;
  if (glyphs == Glyphs::Symbol) glyph = SymbolGlyph(b);
  if (glyphs == Glyphs::Wingdings) glyph = FindGlyph(kWingdingsGlyphs, b);
  if (glyph != 0) return glyph;
  if (b < 0x80) return b;
  return HighHalfOf(codePage)[b - 0x80];
}

enum class Keyword : std::uint8_t {
  // Any destination but a skipped one.
  Bin,
  Unicode,
  UnicodeSkip,
  Ansi,
  AnsiCodePage,
  Mac,
  Pc,
  Pca,
  DefaultFont,
  FontTable,
  ColourTable,
  SkippedDestination,
  // Font table.
  Font,
  Charset,
  FontCodePage,
  // Colour table.
  Red,
  Green,
  Blue,
  // Text.
  Par,
  Pard,
  Plain,
  Line,
  Tab,
  Cell,
  Row,
  PageBreak,
  Bold,
  Italic,
  Underline,
  UnderlineNone,
  Hidden,
  FontSize,
  Colour,
  AlignLeft,
  AlignRight,
  AlignCentre,
  AlignJustify,
  FirstIndent,
  LeftIndent,
  RightIndent,
  Character,
};

struct KeywordInfo {
  Keyword keyword;
  char16_t character = 0;  // for Keyword::Character
};

// Every underline style draws a line; the reader keeps only whether there is one.
// clang-format off
constexpr std::string_view kUnderlineStyles[] = {
    "ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash", "ulth", "ulthd", "ulthdash",
    "ulthdashd", "ulthdashdd", "ulthldash", "ululdbwave", "ulw", "ulwave"};

// Groups whose content is not text of the document: tables, pictures, objects, metadata, page
// furniture, notes, field instructions and list definitions (their visible form is the \listtext
// or \pntext group, which is kept).
constexpr std::string_view kSkippedDestinations[] = {
    "info", "stylesheet", "pict", "object", "objdata", "objclass", "objname", "result", "header", "headerl",
    "headerr", "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "ftnsep", "ftnsepc", "ftncn",
    "aftnsep", "aftnsepc", "aftncn", "fldinst", "themedata", "colorschememapping", "latentstyles",
    "datastore", "xmlnstbl", "listtable", "listoverridetable", "rsidtbl", "generator", "bkmkstart", "bkmkend",
    "pn", "pntxta", "pntxtb", "pnseclvl", "filetbl", "revtbl", "annotation", "atnid", "atnauthor", "atndate",
    "atnref", "atnicn", "atrfstart", "atrfend", "txe", "xe", "tc", "tcn", "template", "userprops", "docvar",
    "shp", "shpinst", "shprslt", "shppict", "nonshppict", "do", "picprop", "blipuid", "fchars", "lchars",
    "pgdsctbl", "private", "mmathPr", "panose", "falt", "fname", "fontemb", "fontfile", "keywords", "subject",
    "title", "author", "operator", "doccomm", "comment", "company", "category", "manager", "hlinkbase",
    "passwordhash", "protusertbl", "listpicture", "background", "formfield", "datafield", "defchp", "defpap",
    "nesttableprops", "wgrffmtfilter", "xmlopen", "xmlclose", "xmlname", "xmlattrname", "xmlattrvalue",
    "factoidname", "htmltag", "mhtmltag", "oldcprops", "oldpprops", "oldsprops", "oldtprops"};
// clang-format on

const std::unordered_map<std::string_view, KeywordInfo>& Keywords() {
  static const std::unordered_map<std::string_view, KeywordInfo> table = [] {
    std::unordered_map<std::string_view, KeywordInfo> t = {
        {"bin", {Keyword::Bin}},
        {"u", {Keyword::Unicode}},
        {"uc", {Keyword::UnicodeSkip}},
        {"ansi", {Keyword::Ansi}},
        {"ansicpg", {Keyword::AnsiCodePage}},
        {"mac", {Keyword::Mac}},
        {"pc", {Keyword::Pc}},
        {"pca", {Keyword::Pca}},
        {"deff", {Keyword::DefaultFont}},
        {"fonttbl", {Keyword::FontTable}},
        {"colortbl", {Keyword::ColourTable}},
        {"f", {Keyword::Font}},
        {"fcharset", {Keyword::Charset}},
        {"cpg", {Keyword::FontCodePage}},
        {"red", {Keyword::Red}},
        {"green", {Keyword::Green}},
        {"blue", {Keyword::Blue}},
        {"par", {Keyword::Par}},
        {"pard", {Keyword::Pard}},
        {"plain", {Keyword::Plain}},
        {"line", {Keyword::Line}},
        {"tab", {Keyword::Tab}},
        {"cell", {Keyword::Cell}},
        {"nestcell", {Keyword::Cell}},
        {"row", {Keyword::Row}},
        {"nestrow", {Keyword::Row}},
        {"page", {Keyword::PageBreak}},
        {"sect", {Keyword::PageBreak}},
        {"b", {Keyword::Bold}},
        {"i", {Keyword::Italic}},
        {"ulnone", {Keyword::UnderlineNone}},
        {"v", {Keyword::Hidden}},
        {"fs", {Keyword::FontSize}},
        {"cf", {Keyword::Colour}},
        {"ql", {Keyword::AlignLeft}},
        {"qr", {Keyword::AlignRight}},
        {"qc", {Keyword::AlignCentre}},
        {"qj", {Keyword::AlignJustify}},
        {"qd", {Keyword::AlignJustify}},
        {"fi", {Keyword::FirstIndent}},
        {"li", {Keyword::LeftIndent}},
        {"lin", {Keyword::LeftIndent}},
        {"ri", {Keyword::RightIndent}},
        {"rin", {Keyword::RightIndent}},
        {"emdash", {Keyword::Character, u'\u2014'}},
        {"endash", {Keyword::Character, u'\u2013'}},
        {"lquote", {Keyword::Character, u'\u2018'}},
        {"rquote", {Keyword::Character, u'\u2019'}},
        {"ldblquote", {Keyword::Character, u'\u201C'}},
        {"rdblquote", {Keyword::Character, u'\u201D'}},
        {"bullet", {Keyword::Character, u'\u2022'}},
        {"emspace", {Keyword::Character, u'\u2003'}},
        {"enspace", {Keyword::Character, u'\u2002'}},
        {"qmspace", {Keyword::Character, u'\u2005'}},
        {"zwj", {Keyword::Character, u'\u200D'}},
        {"zwnj", {Keyword::Character, u'\u200C'}},
        {"ltrmark", {Keyword::Character, u'\u200E'}},
        {"rtlmark", {Keyword::Character, u'\u200F'}},
    };
    for (std::string_view word : kUnderlineStyles) t.emplace(word, KeywordInfo{Keyword::Underline});
    for (std::string_view word : kSkippedDestinations)
      t.emplace(word, KeywordInfo{Keyword::SkippedDestination});
    return t;
  }();
  return table;
}

enum class Destination : std::uint8_t { Text, Skip, FontTable, ColourTable };

struct CharState {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool hidden = false;
  int fontSize = 24;
  int font = -1;    // -1: the document's default font (\deff)
  int colour = -1;  // index into the colour table; -1: automatic
  bool operator==(const CharState&) const = default;
};

struct ParaState {
  Alignment alignment = Alignment::Left;
  int firstIndent = 0;
  int leftIndent = 0;
  int rightIndent = 0;
};

// What a group saves on '{' and restores on '}'.
struct GroupState {
  Destination destination = Destination::Text;
  CharState chars;
  ParaState para;
  int unicodeSkip = 1;
};

struct FontEntry {
  std::string name;
  int codePage = 0;  // 0: the document's
  Glyphs glyphs = Glyphs::Text;
};

// The entry of the font table being read.
struct PendingFont {
  int number = -1;  // -1: no entry open, text is ignored
  int charset = -1;
  int codePage = 0;
  std::u16string name;
};

// Word nests a dozen levels at most; deeper groups are damage and share the deepest state, so
// memory stays bounded whatever the input.
constexpr std::size_t kMaxDepth = 512;
constexpr int kMaxFontSize = 3276;  // 1638 pt, the largest size Word accepts
constexpr int kMaxUnicodeSkip = 255;
constexpr std::size_t kMaxWordLength = 32;

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One pass over the input with an explicit group stack: every step consumes at least one byte,
// so any input ends, and nothing recurses.
class Parser {
 public:
  explicit Parser(std::string_view input) : in_(input) {}

  Document Parse() {
    stack_.push_back(GroupState{});  // text before any brace still reads, as a header-less file
    SkipPreamble();
    while (pos_ < in_.size() && !finished_) {
      const char c = in_[pos_++];
      switch (c) {
        case '{':
          OpenGroup();
          break;
        case '}':
          CloseGroup();
          break;
        case '\\':
          ControlSequence();
          break;
        case '\r':
        case '\n':
          break;
        default:
          PlainCharacter(static_cast<std::uint8_t>(c));
          break;
      }
    }
    EndParagraph();
    return std::move(document_);
  }

 private:
  GroupState& Top() { return stack_.back(); }

  // A byte-order mark or blank lines that an editor put before the document are not its text.
  void SkipPreamble() {
    std::size_t start = in_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (start < in_.size() &&
           (in_[start] == ' ' || in_[start] == '\t' || in_[start] == '\r' || in_[start] == '\n')) {
      ++start;
    }
    if (start < in_.size() && in_[start] == '{') pos_ = start;
  }

  void OpenGroup() {
    pendingSkip_ = 0;  // a group brace ends the replacement text of a \u
    if (stack_.size() >= kMaxDepth) {
      ++overflow_;
      return;
    }
    stack_.push_back(stack_.back());
  }

  void CloseGroup() {
    pendingSkip_ = 0;
    if (overflow_ > 0) {
      --overflow_;
      return;
    }
    if (stack_.size() == 1) return;  // a stray brace outside the document
    // The last entry of a table may lack its semicolon.
    if (Top().destination == Destination::FontTable) CommitFont();
    if (Top().destination == Destination::ColourTable && colourGiven_) CommitColour();
    // The document ends with its outermost group, as word processors read it; what follows
    // (WordPad's trailing null, junk) is not text. The group's state stays for the last paragraph.
    if (stack_.size() == 2) {
      finished_ = true;
      return;
    }
    stack_.pop_back();
  }

  void ControlSequence() {
    if (pos_ >= in_.size()) return;
    if (!IsLetter(in_[pos_])) {
      ControlSymbol(in_[pos_++]);
      return;
    }
    const std::size_t start = pos_;
    while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
    // Longer words are damage: they match nothing but still end where their letters end.
    const std::string_view word = in_.substr(start, std::min(pos_ - start, kMaxWordLength + 1));
    bool hasParam = false;
    long long value = 0;
    bool negative = false;
    if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsDigit(in_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    while (pos_ < in_.size() && IsDigit(in_[pos_])) {
      hasParam = true;
      value = std::min(value * 10 + (in_[pos_] - '0'), 1LL << 31);
      ++pos_;
    }
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    value = negative ? -value : value;
    const int param = static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
    ControlWord(word, hasParam, param);
  }

  void ControlSymbol(char c) {
    if (c == '\'') {
      int byte = -1;
      if (pos_ + 1 < in_.size() && HexValue(in_[pos_]) >= 0 && HexValue(in_[pos_ + 1]) >= 0) {
        byte = HexValue(in_[pos_]) * 16 + HexValue(in_[pos_ + 1]);
        pos_ += 2;
      } else if (pos_ < in_.size() && HexValue(in_[pos_]) >= 0) {
        ++pos_;  // half an escape: dropped
      }
      if (ConsumesPendingSkip() || byte < 0) return;
      EscapedByte(static_cast<std::uint8_t>(byte));
      return;
    }
    if (ConsumesPendingSkip()) return;
    switch (c) {
      case '\\':
      case '{':
      case '}':
        Emit(static_cast<char16_t>(c));
        break;
      case '~':
        Emit(u'\u00A0');
        break;
      case '-':
        Emit(u'\u00AD');
        break;
      case '_':
        Emit(u'\u2011');
        break;
      case '*':
        Top().destination = Destination::Skip;
        break;
      case '\r':
      case '\n':
        if (Top().destination == Destination::Text) EndParagraph();
        break;
      case '\t':
        if (Top().destination == Destination::Text) AppendUnit(u'\t');
        break;
      default:
        break;  // \: \| and unknown symbols
    }
  }

  // After \uN, the next \uc characters are the replacement for readers without Unicode.
  bool ConsumesPendingSkip() {
    if (pendingSkip_ == 0) return false;
    --pendingSkip_;
    return true;
  }

  void ControlWord(std::string_view word, bool hasParam, int param) {
    const auto& keywords = Keywords();
    const auto found = keywords.find(word);
    const bool known = found != keywords.end();
    // \bin data is skipped whatever the state: its bytes are not markup.
    if (known && found->second.keyword == Keyword::Bin) {
      const std::size_t length = hasParam && param > 0 ? static_cast<std::size_t>(param) : 0;
      pos_ += std::min(length, in_.size() - pos_);
    }
    if (ConsumesPendingSkip()) return;
    GroupState& state = Top();
    if (!known || state.destination == Destination::Skip) return;
    const KeywordInfo& info = found->second;
    switch (info.keyword) {
      case Keyword::Bin:
        return;
      case Keyword::Unicode:
        if (hasParam) {
          EmitUnicode(static_cast<char16_t>(param < 0 ? param + 65536 : param));
          pendingSkip_ = state.unicodeSkip;
        }
        return;
      case Keyword::UnicodeSkip:
        state.unicodeSkip = std::clamp(param, 0, kMaxUnicodeSkip);
        return;
      case Keyword::Ansi:
        codePage_ = 1252;
        return;
      case Keyword::AnsiCodePage:
        if (param > 0) codePage_ = param;
        return;
      case Keyword::Mac:
        codePage_ = 10000;
        return;
      case Keyword::Pc:
        codePage_ = 437;
        return;
      case Keyword::Pca:
        codePage_ = 850;
        return;
      case Keyword::DefaultFont:
        defaultFont_ = param;
        return;
      case Keyword::FontTable:
        state.destination = Destination::FontTable;
        pendingFont_ = PendingFont{};
        return;
      case Keyword::ColourTable:
        state.destination = Destination::ColourTable;
        ResetColour();
        return;
      case Keyword::SkippedDestination:
        state.destination = Destination::Skip;
        return;
      case Keyword::Character:
        Emit(info.character);
        return;
      default:
        break;
    }
    if (state.destination == Destination::FontTable) {
      FontTableWord(info.keyword, param);
    } else if (state.destination == Destination::ColourTable) {
      ColourTableWord(info.keyword, param);
    } else {
      TextWord(state, info.keyword, hasParam, param);
    }
  }

  void FontTableWord(Keyword keyword, int param) {
    switch (keyword) {
      case Keyword::Font:
        CommitFont();
        pendingFont_.number = param;
        break;
      case Keyword::Charset:
        pendingFont_.charset = param;
        break;
      case Keyword::FontCodePage:
        pendingFont_.codePage = param;
        break;
      default:
        break;
    }
  }

  void ColourTableWord(Keyword keyword, int param) {
    const auto component = static_cast<std::uint8_t>(std::clamp(param, 0, 255));
    switch (keyword) {
      case Keyword::Red:
        colourEntry_.red = component;
        break;
      case Keyword::Green:
        colourEntry_.green = component;
        break;
      case Keyword::Blue:
        colourEntry_.blue = component;
        break;
      default:
        return;
    }
    colourGiven_ = true;
  }

  void TextWord(GroupState& state, Keyword keyword, bool hasParam, int param) {
    CharState& chars = state.chars;
    ParaState& para = state.para;
    // A toggle without parameter turns the property on; \b0 turns it off.
    const bool on = !hasParam || param != 0;
    switch (keyword) {
      case Keyword::Par:
        EndParagraph();
        break;
      case Keyword::Pard:
        para = ParaState{};
        break;
      case Keyword::Plain:
        chars = CharState{};
        break;
      case Keyword::Line:
        AppendUnit(u'\n');
        break;
      case Keyword::Tab:
        AppendUnit(u'\t');
        break;
      // Table cells read as tab-separated text, one paragraph per row.
      case Keyword::Cell:
        cellPending_ = true;
        break;
      case Keyword::Row:
        EndParagraph();
        break;
      // A page or section break starts a new line only when the current one holds text.
      case Keyword::PageBreak:
        if (!paragraph_.runs.empty() || !runText_.empty()) EndParagraph();
        break;
      case Keyword::Bold:
        chars.bold = on;
        break;
      case Keyword::Italic:
        chars.italic = on;
        break;
      case Keyword::Underline:
        chars.underline = on;
        break;
      case Keyword::UnderlineNone:
        chars.underline = false;
        break;
      case Keyword::Hidden:
        chars.hidden = on;
        break;
      case Keyword::FontSize:
        chars.fontSize = hasParam && param > 0 ? std::min(param, kMaxFontSize) : 24;
        break;
      case Keyword::Font:
        if (hasParam) chars.font = param;
        break;
      case Keyword::Colour:
        chars.colour = hasParam ? param : 0;
        break;
      case Keyword::AlignLeft:
        para.alignment = Alignment::Left;
        break;
      case Keyword::AlignRight:
        para.alignment = Alignment::Right;
        break;
      case Keyword::AlignCentre:
        para.alignment = Alignment::Centre;
        break;
      case Keyword::AlignJustify:
        para.alignment = Alignment::Justify;
        break;
      case Keyword::FirstIndent:
        para.firstIndent = param;
        break;
      case Keyword::LeftIndent:
        para.leftIndent = param;
        break;
      case Keyword::RightIndent:
        para.rightIndent = param;
        break;
      default:
        break;
    }
  }

  void PlainCharacter(std::uint8_t b) {
    if (ConsumesPendingSkip()) return;
    switch (Top().destination) {
      case Destination::Skip:
        return;
      case Destination::FontTable:
        if (b == ';') {
          CommitFont();
        } else {
          EscapedByte(b);
        }
        return;
      case Destination::ColourTable:
        if (b == ';') CommitColour();
        return;
      case Destination::Text:
        if (b == '\t') {
          AppendUnit(u'\t');
        } else {
          EscapedByte(b);
        }
        return;
    }
  }

  // A byte of text, in the code page of the font it is written in.
  void EscapedByte(std::uint8_t b) {
    const GroupState& state = Top();
    if (state.destination == Destination::FontTable) {
      if (b < 0x20) return;
      const int codePage =
          pendingFont_.codePage > 0 ? pendingFont_.codePage : CodePageOfCharset(pendingFont_.charset);
      AppendFontName(DecodeByte(b, codePage == 0 ? codePage_ : codePage, Glyphs::Text));
    } else if (state.destination == Destination::Text) {
      const FontEntry* font = CurrentFont();
      const int codePage = font != nullptr && font->codePage != 0 ? font->codePage : codePage_;
      EmitFiltered(DecodeByte(b, codePage, font != nullptr ? font->glyphs : Glyphs::Text));
    }
  }

  void EmitUnicode(char16_t unit) {
    // Word writes the characters of symbol fonts in the private-use page F0xx; they read as the
    // byte of the same value in that font.
    const FontEntry* font = CurrentFont();
    if (Top().destination == Destination::Text && font != nullptr && font->glyphs != Glyphs::Text &&
        unit >= 0xF020 && unit <= 0xF0FF) {
      EscapedByte(static_cast<std::uint8_t>(unit & 0xFF));
      return;
    }
    EmitFiltered(unit);
  }

  // Control characters other than the tab are not text in any writer's output.
  void EmitFiltered(char16_t unit) {
    if (unit < 0x20 && unit != u'\t') return;
    Emit(unit);
  }

  void Emit(char16_t unit) {
    switch (Top().destination) {
      case Destination::Text:
        AppendUnit(unit);
        break;
      case Destination::FontTable:
        AppendFontName(unit);
        break;
      default:
        break;
    }
  }

  void AppendFontName(char16_t unit) {
    if (pendingFont_.number >= 0) pendingFont_.name += unit;
  }

  void CommitFont() {
    if (pendingFont_.number < 0) return;
    FontEntry entry;
    entry.name = text::Trim(text::Utf16ToUtf8(pendingFont_.name));
    entry.codePage =
        pendingFont_.codePage > 0 ? pendingFont_.codePage : CodePageOfCharset(pendingFont_.charset);
    if (pendingFont_.charset == 2) {
      if (text::IEquals(entry.name, "Symbol")) {
        entry.glyphs = Glyphs::Symbol;
      } else if (text::IEquals(entry.name, "Wingdings")) {
        entry.glyphs = Glyphs::Wingdings;
      } else {
        entry.glyphs = Glyphs::OtherSymbol;
      }
    }
    fonts_[pendingFont_.number] = std::move(entry);
    pendingFont_ = PendingFont{};
  }

  void CommitColour() {
    colours_.push_back(colourGiven_ ? std::optional<Rgb>(colourEntry_) : std::nullopt);
    ResetColour();
  }

  void ResetColour() {
    colourEntry_ = Rgb{};
    colourGiven_ = false;
  }

  const FontEntry* FontOf(const CharState& chars) const {
    const auto found = fonts_.find(chars.font >= 0 ? chars.font : defaultFont_);
    return found == fonts_.end() ? nullptr : &found->second;
  }
  const FontEntry* CurrentFont() { return FontOf(Top().chars); }

  void AppendUnit(char16_t unit) {
    const CharState& chars = Top().chars;
    if (chars.hidden) return;
    if (!runText_.empty() && runChars_ != chars) FlushRun();
    runChars_ = chars;
    if (cellPending_) {
      cellPending_ = false;
      runText_ += u'\t';
    }
    runText_ += unit;
  }

  void FlushRun() {
    if (runText_.empty()) return;
    Format format;
    format.bold = runChars_.bold;
    format.italic = runChars_.italic;
    format.underline = runChars_.underline;
    format.fontSizeHalfPoints = runChars_.fontSize;
    if (runChars_.colour >= 0 && static_cast<std::size_t>(runChars_.colour) < colours_.size()) {
      format.colour = colours_[runChars_.colour];
    }
    if (const FontEntry* font = FontOf(runChars_)) format.fontFamily = font->name;
    std::string text = text::Utf16ToUtf8(runText_);
    runText_.clear();
    if (!paragraph_.runs.empty() && paragraph_.runs.back().format == format) {
      paragraph_.runs.back().text += text;
    } else {
      paragraph_.runs.push_back(Run{std::move(text), std::move(format)});
    }
  }

  // A paragraph takes the paragraph properties in effect at its end.
  void EndParagraph() {
    FlushRun();
    const ParaState& para = Top().para;
    paragraph_.alignment = para.alignment;
    paragraph_.firstLineIndentTwips = para.firstIndent;
    paragraph_.leftIndentTwips = para.leftIndent;
    paragraph_.rightIndentTwips = para.rightIndent;
    document_.paragraphs.push_back(std::move(paragraph_));
    paragraph_ = Paragraph{};
    cellPending_ = false;
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  bool finished_ = false;
  std::vector<GroupState> stack_;
  std::size_t overflow_ = 0;  // groups opened beyond kMaxDepth and not closed yet
  int pendingSkip_ = 0;
  int codePage_ = 1252;
  int defaultFont_ = -1;
  std::map<int, FontEntry> fonts_;
  PendingFont pendingFont_;
  std::vector<std::optional<Rgb>> colours_;
  Rgb colourEntry_;
  bool colourGiven_ = false;
  bool cellPending_ = false;
  Document document_;
  Paragraph paragraph_;
  CharState runChars_;
  std::u16string runText_;
};

}  // namespace

Document ParseRtf(std::string_view bytes) {
  return Parser(bytes).Parse();
}

std::string PlainText(const Document& document) {
  std::string out;
  for (std::size_t i = 0; i < document.paragraphs.size(); ++i) {
    if (i > 0) out += '\n';
    for (const Run& run : document.paragraphs[i].runs) out += run.text;
  }
  return out;
}

std::size_t LineCount(const Document& document) {
  std::size_t lines = document.paragraphs.empty() ? 1 : document.paragraphs.size();
  for (const Paragraph& paragraph : document.paragraphs) {
    for (const Run& run : paragraph.runs)
      lines += static_cast<std::size_t>(std::count(run.text.begin(), run.text.end(), '\n'));
  }
  return lines;
}

}  // namespace kv::rtf
