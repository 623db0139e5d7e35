// The JSON toolkit: string tokens, literals, value skipping and its depth
// limit, the writer's number forms, and Base64 (the writer's escapes are
// state_round_trip_test's). fuzz/fuzz_json_reader.cpp checks numbers against
// strtod on exactly their range, and the member loop; fuzz/fuzz_base64.cpp
// sizes and round trips; the CC map, pad and state document targets read back
// every number they write, bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "formats/json.h"

namespace {

using norva::Reader;

// Escapes decode to UTF-8; a lone or broken surrogate half to U+FFFD, an
// escape without four hex digits to "?" (as documents saved earlier hold it).
TEST(JsonReader, StringTokens) {
  using namespace std::string_literals;
  const struct { const char *text; bool ok; std::string decoded; } cases[] = {
      {R"("a\u0041b")", true, "aAb"}, {R"("\t\"\/\\")", true, "\t\"/\\"}, {R"("\b\f\n\r\q")", true, "\b\f\n\rq"},
      {"\"raw\n\x01\xff\"", true, "raw\n\x01\xff"}, {" \t\r\n\"x\"", true, "x"},
      {R"("\u0041\u007e")", true, "A~"}, {R"("\u00e9\u07FF")", true, "\xc3\xa9\xdf\xbf"},
      {R"("\u20ac\uFFFF")", true, "\xe2\x82\xac\xef\xbf\xbf"}, {R"("\ud83d\ude00")", true, "\xf0\x9f\x98\x80"},
      {R"("\udbff\udfff")", true, "\xf4\x8f\xbf\xbf"}, {R"("\ud800x\udc00")", true, "\xef\xbf\xbdx\xef\xbf\xbd"},
      {R"("\ud800\u0041")", true, "\xef\xbf\xbd" "A"}, {R"("\u0000")", true, "\0"s}, {R"("a\u12G4b")", true, "a?b"},
      {R"("\u12")", false, ""},  // the escape swallows the closing quote
      {R"("\u)", false, ""},    {R"("abc\)", false, ""}, {R"("abc)", false, ""},
      {"\v\"x\"", false, ""},   // not JSON white space
      {"abc", false, ""},      {"", false, ""},
  };
  for (const auto &c : cases) {
    Reader r(c.text, std::strlen(c.text));
    std::string out = "pre:";
    EXPECT_EQ(norva::parseString(r, &out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out, std::string("pre:") + c.decoded) << c.text;
    }
  }
}

TEST(JsonReader, Literals) {
  bool b = false;
  Reader t("true", 4), f(" false", 6), cut("truex", 3), n("null", 3), runOn("nullx", 5);
  EXPECT_TRUE(norva::parseBool(t, &b) && b);
  EXPECT_TRUE(norva::parseBool(f, &b) && !b);
  EXPECT_FALSE(norva::parseBool(cut, &b));
  EXPECT_FALSE(norva::parseNull(n)) << "the literal must lie inside the range";
  EXPECT_TRUE(norva::parseNull(runOn));
  EXPECT_EQ(*runOn.cur, 'x') << "the byte after a literal is the separator check's business";
}

TEST(JsonReader, SkipValue) {
  const auto nested = [](size_t n) { return "{\"m\":" + std::string(n, '[') + std::string(n, ']') + "}"; };
  const std::pair<std::string, bool> cases[] = {
      {R"([1,"a",{"k":[true,null]}])", true}, {" [ ] ", true}, {"{}", true}, {"nan", true}, {"-1e-3", true},
      {R"([1,2,])", false}, {R"({"a":1,})", false}, {"[,]", false}, {"[1 2]", false}, {R"({"a" 1})", false},
      {"{a:1}", false}, {R"({"a":1)", false}, {"[1", false}, {"[truex]", false}, {"tru", false}, {"-", false},
      {"", false}, {nested(32), true}, {nested(33), false},
  };
  for (const auto &[text, ok] : cases) {
    Reader r(text.data(), text.size());
    EXPECT_EQ(norva::skipValue(r, 0) && norva::atEnd(r), ok) << text;
  }
  Reader deep("1", 1);
  EXPECT_FALSE(norva::skipValue(deep, 33));
}

TEST(JsonWriter, NumberForms) {
  const std::pair<double, const char *> cases[] = {
      {120, "120"}, {0.1, "0.1"}, {-0.0, "-0"}, {10000, "10000"}, {100000, "1e+05"}, {0.001, "0.001"},
      {0.0001, "1e-04"}, {1.5e-7, "1.5e-07"}, {5e-324, "5e-324"}, {0.1 + 0.2, "0.30000000000000004"},
      {1180591620717411303424.0, "1180591620717411303424"}, // 2^70: a tie, so fixed with every digit
      {std::numeric_limits<double>::quiet_NaN(), "null"}, {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto &[value, text] : cases) {
    std::string out = "x";
    norva::jsonAppendNumber(out, value);
    EXPECT_EQ(out, std::string("x") + text);
  }
}

TEST(Base64, Rfc4648Vectors) {
  const std::pair<const char *, const char *> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "+/8="},
  };
  for (const auto &[plain, encoded] : vectors) {
    std::string out;
    norva::base64Append(out, reinterpret_cast<const uint8_t *>(plain), std::strlen(plain));
    EXPECT_EQ(out, encoded);
    std::vector<uint8_t> decoded = {42};
    ASSERT_TRUE(norva::base64Decode(encoded, decoded, 6)) << encoded;
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), plain);
  }
}

TEST(Base64, DecodeRefusals) {
  const std::pair<const char *, size_t> refused[] = {
      {"Zg", 9},    {"Zm9vY", 9},    {"Zm 9", 9},     {"Zm9\n", 9}, {"Zg==Zm8=", 9}, {"Zm=vZm8=", 9},
      {"=Zg=", 9},  {"Z===", 9},     {"Zm-_", 9},     {"Zm8=Zm8=", 9}, {"Zm9v", 2},  {"Zm9vYg==", 3},
  };
  for (const auto &[text, maxBytes] : refused) {
    std::vector<uint8_t> out;
    EXPECT_FALSE(norva::base64Decode(text, out, maxBytes)) << text;
  }
  std::vector<uint8_t> out = {7};
  EXPECT_FALSE(norva::base64Decode("Zm9vYmFy", out, 5));
  EXPECT_EQ(out, std::vector<uint8_t>{7}) << "an oversized text is refused before decoding";
  ASSERT_TRUE(norva::base64Decode("", out, 0));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(norva::base64Decode("/w==", out, 1));
  EXPECT_EQ(out, std::vector<uint8_t>{0xFF});
}

}  // namespace
