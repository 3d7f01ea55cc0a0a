// One value of a result column or of a statement parameter, and the date-time numbers of the
// suite (Delphi's TDateTime: days since 1899-12-30, the time as the fraction of a day).
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace kv::fb {

struct DateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

double EncodeDateTime(const DateTimeParts& parts);
// Rounded to the millisecond.
DateTimeParts DecodeDateTime(double dateTime);
// "dd/mm/yyyy hh:nn:ss" as a French system writes it; a value without time gives the date alone.
std::string DateTimeToString(double dateTime);

class Value {
 public:
  enum class Kind { Null, Integer, Float, Text, Bytes, DateTime };

  Value() = default;  // NULL
  static Value Null() { return Value(); }
  // An exact number: integer * 10^scale (scale <= 0, as NUMERIC(18,2) gives -2).
  static Value Integer(std::int64_t integer, int scale = 0);
  static Value Float(double number);
  // UTF-8 text (CHAR, VARCHAR, text blobs).
  static Value Text(std::string utf8);
  // Raw bytes (binary blobs, OCTETS).
  static Value Bytes(std::string bytes);
  static Value DateTime(double dateTime);

  Kind GetKind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  int Scale() const { return scale_; }

  // Conversions as the suite's fields make them; NULL reads as empty text, 0 or date 0. A text
  // that is not a number raises Error ("'abc' n'est pas une valeur entière correcte"). AsString
  // of bytes (a binary blob) reads them as ISO 8859-1 text, the databases' character set.
  std::string AsString() const;
  std::int64_t AsInt64() const;
  std::int32_t AsInteger() const;
  double AsFloat() const;
  double AsDateTime() const;
  // Bytes of a binary value; the UTF-8 text of a text value.
  std::string AsBytes() const;
  bool AsBoolean() const;

  // The exact integer part (the unscaled number for Integer kinds).
  std::int64_t RawInteger() const { return std::get<std::int64_t>(data_); }

  bool operator==(const Value& other) const = default;

 private:
  Kind kind_ = Kind::Null;
  int scale_ = 0;
  std::variant<std::monostate, std::int64_t, double, std::string> data_;
};

}  // namespace kv::fb
