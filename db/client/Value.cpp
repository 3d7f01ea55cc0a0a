#include "db/client/Value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "formats/Text.h"
#include "platform/Errors.h"

namespace kv::fb {

namespace {

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

// 1899-12-30, day 0 of the suite's dates, counted from 1970-01-01.
constexpr std::int64_t kDelphiEpoch = -25569;
constexpr double kMillisecondsPerDay = 86400000.0;

std::int64_t Pow10(int n) {
  std::int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

[[noreturn]] void NotAnInteger(const std::string& text) {
  throw Error("'" + text + "' n'est pas une valeur entière correcte");
}

bool ParseDateTime(const std::string& text, double& out) {
  DateTimeParts p;
  p.Hour = p.Minute = p.Second = 0;
  int n = 0;
  const char* s = text.c_str();
  if (std::sscanf(s, "%d-%d-%d %d:%d:%d%n", &p.Year, &p.Month, &p.Day, &p.Hour, &p.Minute, &p.Second, &n) ==
          6 ||
      std::sscanf(s, "%d/%d/%d %d:%d:%d%n", &p.Day, &p.Month, &p.Year, &p.Hour, &p.Minute, &p.Second, &n) ==
          6 ||
      std::sscanf(s, "%d-%d-%d%n", &p.Year, &p.Month, &p.Day, &n) == 3 ||
      std::sscanf(s, "%d/%d/%d%n", &p.Day, &p.Month, &p.Year, &n) == 3) {
    if (static_cast<std::size_t>(n) != text.size() || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
        p.Day > 31 || p.Hour > 23 || p.Minute > 59 || p.Second > 59) {
      return false;
    }
    out = EncodeDateTime(p);
    return true;
  }
  return false;
}

}  // namespace

double EncodeDateTime(const DateTimeParts& p) {
  const auto days = static_cast<double>(
      DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) - kDelphiEpoch);
  const double ms = ((p.Hour * 60.0 + p.Minute) * 60.0 + p.Second) * 1000.0 + p.Millisecond;
  // Delphi's convention: before day 0 the time fraction still counts forward from midnight.
  return days >= 0 ? days + ms / kMillisecondsPerDay : days - ms / kMillisecondsPerDay;
}

DateTimeParts DecodeDateTime(double dateTime) {
  const double days = std::trunc(dateTime);
  auto ms = static_cast<std::int64_t>(std::llround(std::fabs(dateTime - days) * kMillisecondsPerDay));
  auto whole = static_cast<std::int64_t>(days);
  if (ms >= 86400000) {  // rounding reached the next day
    ms -= 86400000;
    whole += dateTime >= 0 ? 1 : -1;
  }
  DateTimeParts p;
  CivilFromDays(whole + kDelphiEpoch, p.Year, p.Month, p.Day);
  p.Millisecond = static_cast<int>(ms % 1000);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Hour = static_cast<int>(ms / 3600000);
  return p;
}

std::string DateTimeToString(double dateTime) {
  const DateTimeParts p = DecodeDateTime(dateTime);
  char buffer[64];
  if (p.Hour == 0 && p.Minute == 0 && p.Second == 0 && p.Millisecond == 0) {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", p.Day, p.Month, p.Year);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                  p.Minute, p.Second);
  }
  return buffer;
}

Value Value::Integer(std::int64_t integer, int scale) {
  Value v;
  v.kind_ = Kind::Integer;
  v.scale_ = scale;
  v.data_ = integer;
  return v;
}

Value Value::Float(double number) {
  Value v;
  v.kind_ = Kind::Float;
  v.data_ = number;
  return v;
}

Value Value::Text(std::string utf8) {
  Value v;
  v.kind_ = Kind::Text;
  v.data_ = std::move(utf8);
  return v;
}

Value Value::Bytes(std::string bytes) {
  Value v;
  v.kind_ = Kind::Bytes;
  v.data_ = std::move(bytes);
  return v;
}

Value Value::DateTime(double dateTime) {
  Value v;
  v.kind_ = Kind::DateTime;
  v.data_ = dateTime;
  return v;
}

std::string Value::AsString() const {
  switch (kind_) {
    case Kind::Null:
      return {};
    case Kind::Integer: {
      const std::int64_t n = std::get<std::int64_t>(data_);
      if (scale_ >= 0) return std::to_string(n) + std::string(static_cast<std::size_t>(scale_), '0');
      const std::int64_t p = Pow10(-scale_);
      const std::uint64_t magnitude =
          n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
      std::string fraction = std::to_string(magnitude % static_cast<std::uint64_t>(p));
      fraction.insert(0, static_cast<std::size_t>(-scale_) - fraction.size(), '0');
      return (n < 0 ? "-" : "") + std::to_string(magnitude / static_cast<std::uint64_t>(p)) + "." + fraction;
    }
    case Kind::Float: {
      char buffer[64];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::get<double>(data_));
      return std::string(buffer, result.ptr);
    }
    case Kind::Text:
      return std::get<std::string>(data_);
    case Kind::Bytes:  // read as text in the databases' character set
      return text::Latin1ToUtf8(std::get<std::string>(data_));
    case Kind::DateTime:
      return DateTimeToString(std::get<double>(data_));
  }
  return {};
}

std::int64_t Value::AsInt64() const {
  switch (kind_) {
    case Kind::Null:
      return 0;
    case Kind::Integer: {
      const std::int64_t n = std::get<std::int64_t>(data_);
      if (scale_ >= 0) return n * Pow10(scale_);
      const std::int64_t p = Pow10(-scale_);
      const std::int64_t q = n / p, r = n % p;
      // Half away from zero, as the suite's fields round.
      if (2 * (r < 0 ? -r : r) >= p) return n < 0 ? q - 1 : q + 1;
      return q;
    }
    case Kind::Float:
    case Kind::DateTime:
      return std::llround(std::get<double>(data_));
    case Kind::Text:
    case Kind::Bytes: {
      const std::string text = text::Trim(std::get<std::string>(data_));
      std::int64_t n = 0;
      const char* begin = text.data();
      if (!text.empty() && text[0] == '+') ++begin;
      const auto result = std::from_chars(begin, text.data() + text.size(), n);
      if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        NotAnInteger(std::get<std::string>(data_));
      }
      return n;
    }
  }
  return 0;
}

std::int32_t Value::AsInteger() const {
  const std::int64_t n = AsInt64();
  if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) {
    NotAnInteger(AsString());
  }
  return static_cast<std::int32_t>(n);
}

double Value::AsFloat() const {
  switch (kind_) {
    case Kind::Null:
      return 0;
    case Kind::Integer:
      return static_cast<double>(std::get<std::int64_t>(data_)) * std::pow(10.0, scale_);
    case Kind::Float:
    case Kind::DateTime:
      return std::get<double>(data_);
    case Kind::Text:
    case Kind::Bytes: {
      std::string text = text::Trim(std::get<std::string>(data_));
      for (char& c : text) {
        if (c == ',') c = '.';
      }
      double d = 0;
      const auto result = std::from_chars(text.data(), text.data() + text.size(), d);
      if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        throw Error("'" + std::get<std::string>(data_) + "' n'est pas une valeur numérique correcte");
      }
      return d;
    }
  }
  return 0;
}

double Value::AsDateTime() const {
  if (kind_ == Kind::Text) {
    double d = 0;
    const std::string text = text::Trim(std::get<std::string>(data_));
    if (!ParseDateTime(text, d)) throw Error("'" + text + "' n'est pas une date et heure correcte");
    return d;
  }
  return AsFloat();
}

std::string Value::AsBytes() const {
  if (kind_ == Kind::Text || kind_ == Kind::Bytes) return std::get<std::string>(data_);
  return AsString();
}

bool Value::AsBoolean() const {
  if (kind_ == Kind::Text) {
    const std::string t = text::ToUpper(text::Trim(std::get<std::string>(data_)));
    return t == "T" || t == "TRUE" || t == "Y" || t == "1";
  }
  return AsInt64() != 0;
}

}  // namespace kv::fb
