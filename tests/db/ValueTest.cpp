// Values of columns and parameters, and the suite's date-time numbers.
#include <gtest/gtest.h>

#include "db/client/Value.h"
#include "tests/support/ErrorText.h"

namespace kv::fb {
namespace {

TEST(DateTime, DayNumbersAreThoseOfTheSuite) {
  struct Case {
    DateTimeParts parts;
    double value;
  };
  const std::vector<Case> cases = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},       {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before day 0 the time still counts from midnight
      {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},    {{1858, 11, 17, 0, 0, 0, 0}, -15018.0},  // the engine's day 0
      {{2026, 12, 10, 18, 0, 0, 0}, 46366.75},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.parts), c.value) << c.value;
    const DateTimeParts back = DecodeDateTime(c.value);
    EXPECT_EQ(back.Year, c.parts.Year) << c.value;
    EXPECT_EQ(back.Month, c.parts.Month) << c.value;
    EXPECT_EQ(back.Day, c.parts.Day) << c.value;
    EXPECT_EQ(back.Hour, c.parts.Hour) << c.value;
  }
}

TEST(DateTime, MillisecondsSurviveAndRoundingCarriesToTheNextDay) {
  const DateTimeParts p = DecodeDateTime(EncodeDateTime({2026, 2, 28, 23, 59, 59, 999}));
  EXPECT_EQ(p.Day, 28);
  EXPECT_EQ(p.Millisecond, 999);
  const DateTimeParts next = DecodeDateTime(EncodeDateTime({2026, 2, 28}) + 0.99999999999);
  EXPECT_EQ(next.Month, 3);
  EXPECT_EQ(next.Day, 1);
  EXPECT_EQ(next.Hour, 0);
  EXPECT_EQ(DateTimeToString(EncodeDateTime({2026, 3, 1, 8, 5, 9, 0})), "01/03/2026 08:05:09");
  EXPECT_EQ(DateTimeToString(EncodeDateTime({2026, 3, 1})), "01/03/2026");
}

TEST(Value, ConversionsOfExactNumbers) {
  EXPECT_EQ(Value::Integer(-12345, -2).AsString(), "-123.45");
  EXPECT_EQ(Value::Integer(5, -3).AsString(), "0.005");
  EXPECT_EQ(Value::Integer(-5, -3).AsString(), "-0.005");
  EXPECT_EQ(Value::Integer(150, -2).AsInteger(), 2);  // 1.50 rounds half away from zero
  EXPECT_EQ(Value::Integer(-150, -2).AsInteger(), -2);
  EXPECT_EQ(Value::Integer(149, -2).AsInteger(), 1);
  EXPECT_EQ(Value::Integer(123456789012LL).AsInt64(), 123456789012LL);
  EXPECT_DOUBLE_EQ(Value::Integer(-12345, -2).AsFloat(), -123.45);
}

TEST(Value, TextReadAsNumberOrDate) {
  EXPECT_EQ(Value::Text(" 12 ").AsInteger(), 12);
  EXPECT_EQ(Value::Text("-7").AsInt64(), -7);
  EXPECT_DOUBLE_EQ(Value::Text("1,5").AsFloat(), 1.5);
  EXPECT_EQ(test::RaisedText([] { Value::Text("abc").AsInteger(); }),
            "'abc' n'est pas une valeur entière correcte");
  EXPECT_EQ(test::RaisedText([] { Value::Text("").AsInteger(); }),
            "'' n'est pas une valeur entière correcte");
  EXPECT_EQ(test::RaisedText([] { Value::Text("12x").AsInt64(); }),
            "'12x' n'est pas une valeur entière correcte");
  EXPECT_EQ(test::RaisedText([] { Value::Integer(3000000000LL).AsInteger(); }),
            "'3000000000' n'est pas une valeur entière correcte");
  EXPECT_DOUBLE_EQ(Value::Text("2026-12-10 18:00:00").AsDateTime(), 46366.75);
  EXPECT_DOUBLE_EQ(Value::Text("10/12/2026").AsDateTime(), 46366.0);
  EXPECT_FALSE(test::RaisedText([] { Value::Text("31/13/2026").AsDateTime(); }).empty());
}

TEST(Value, BinaryReadAsTextIsIso8859_1) {
  const Value bytes = Value::Bytes("Journal \xE9t\xE9\r\n");
  EXPECT_EQ(bytes.AsString(), "Journal été\r\n");
  EXPECT_EQ(bytes.AsBytes(), "Journal \xE9t\xE9\r\n");
}

TEST(Value, NullReadsAsEmptyAndZero) {
  const Value null;
  EXPECT_TRUE(null.IsNull());
  EXPECT_EQ(null.AsString(), "");
  EXPECT_EQ(null.AsInteger(), 0);
  EXPECT_DOUBLE_EQ(null.AsDateTime(), 0.0);
  EXPECT_FALSE(null.AsBoolean());
}

}  // namespace
}  // namespace kv::fb
