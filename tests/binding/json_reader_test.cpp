#include "binding/json_reader.h"

#include <gtest/gtest.h>
#include <string>

#include "binding/reader_limits.h"
#include "value_dump.h"

namespace mau {
namespace {

using test::Dump;

// The tree's dump when the parse succeeds, else the error text.
std::string Parse(const std::string& text) {
  BindingResult result;
  ParseJson(result, text);
  return test::DumpOrError(result);
}

struct Case {
  const char* name;
  std::string text;
  std::string expected;  // dump of the value, or the error text
};

// Every case goes through each entry: the in-place ones decode strings inside the text,
// so escapes and offsets must come out as with the copying ones. The C-string entries see
// the same text when it holds no NUL.
void RunCases(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parse(c.text), c.expected);
    std::string copy = c.text;
    BindingResult inPlace;
    ParseJsonInPlace(inPlace, copy);
    EXPECT_EQ(test::DumpOrError(inPlace), c.expected) << "in place";
    if (c.text.find('\0') == std::string::npos) {
      BindingResult result;
      ParseJson(result, c.text.c_str());
      EXPECT_EQ(test::DumpOrError(result), c.expected);
      copy = c.text;
      BindingResult inPlaceText;
      ParseJsonInPlace(inPlaceText, copy.data());
      EXPECT_EQ(test::DumpOrError(inPlaceText), c.expected) << "in place, C string";
    }
  }
}

// Forty members in descending name order, then two names again: past the few members
// that are sorted by insertion, the later value of a repeated name must still be the one
// kept, and each name appear once.
Case ManyMembersOutOfOrder() {
  const auto name = [](int i) {
    return std::string("m") + char('0' + i / 10) + char('0' + i % 10);
  };
  std::string text = "{";
  for (int i = 39; i >= 0; --i) text += '"' + name(i) + "\":" + std::to_string(i) + ',';
  text += R"("m05":"late","m30":"late"})";
  std::string expected = "{";
  for (int i = 0; i < 40; ++i) {
    if (i > 0) expected += ',';
    expected += name(i) + ':' + (i == 5 || i == 30 ? R"("late")" : "u:" + std::to_string(i));
  }
  return {"many members out of order, two repeated", text, expected + '}'};
}

TEST(JsonReaderTest, Values) {
  RunCases({
      {"null", "null", "null"},
      {"bools", "[true,false]", "[true,false]"},
      {"small unsigned", "7", "u:7"},
      {"largest unsigned", "18446744073709551615", "u:18446744073709551615"},
      {"2^64 is float", "18446744073709551616", "f:1.8446744073709552e+19"},
      {"small negative", "-3", "i:-3"},
      {"minus zero is signed", "-0", "i:0"},
      {"smallest signed", "-9223372036854775808", "i:-9223372036854775808"},
      {"below signed range is float", "-9223372036854775809", "f:-9.223372036854776e+18"},
      {"fraction", "1.0", "f:1"},
      {"exponent", "1e3", "f:1000"},
      {"string", R"("Sable \"the\" mage")", R"("Sable \"the\" mage")"},
      {"escapes and UTF-8", R"("\u00e9\n\ud83d\ude00")", "\"\xc3\xa9\\x0a\xf0\x9f\x98\x80\""},
      {"escaped names and values", R"({"x\"y":"a\\b","\u0041\n":"\t","z":"q\/"})",
       "{A\n:\"\\x09\",x\"y:\"a\\\\b\",z:\"q/\"}"},
      {"string cut at its NUL", R"(["ab\u0000cd"])", R"(["ab"])"},
      {"key cut at its NUL", R"({"ab\u0000cd":1})", "{ab:u:1}"},
      {"whitespace around", " \t\r\n[ 1 ,\n2 ] \n", "[u:1,u:2]"},
      {"empty containers", R"({"a":[],"b":{}})", "{a:[],b:{}}"},
      {"members ordered by name", R"({"roles":["mage"],"id":103,"name":"Sable"})",
       R"({id:u:103,name:"Sable",roles:["mage"]})"},
      {"nested", R"([{"a":[null,{"b":-1.5}]},[[]]])", "[{a:[null,{b:f:-1.5}]},[[]]]"},
      {"repeated member", R"({"a":1,"a":-2})", "{a:i:-2}"},
      {"repeated member replaces a container", R"({"a":[1,2],"a":{"x":1},"a":[3]})", "{a:[u:3]}"},
      ManyMembersOutOfOrder(),
      {"byte-order mark", "\xEF\xBB\xBF{\"a\":1}", "{a:u:1}"},
      {"byte-order mark, then whitespace", "\xEF\xBB\xBF\r\n [true]", "[true]"},
  });
}

TEST(JsonReaderTest, Errors) {
  RunCases({
      {"empty", "", "Error: The document is empty. at offset 0."},
      {"only whitespace", " \t\r\n ", "Error: The document is empty. at offset 5."},
      {"root followed by a value", "[1, 2] 3",
       "Error: The document root must not be followed by other values. at offset 7."},
      {"invalid value", "[1,]", "Error: Invalid value. at offset 3."},
      {"comment", "// no\n1", "Error: Invalid value. at offset 0."},
      {"NaN", "NaN", "Error: Invalid value. at offset 0."},
      {"missing name", "{1:2}", "Error: Missing a name for object member. at offset 1."},
      {"missing colon", R"({"a" 1})",
       "Error: Missing a colon after a name of object member. at offset 5."},
      {"missing comma in object", R"({"a":1 "b":2})",
       "Error: Missing a comma or '}' after an object member. at offset 7."},
      {"trailing comma in object", R"({"a":1,})",
       "Error: Missing a name for object member. at offset 7."},
      {"missing comma in array", "[1 2]",
       "Error: Missing a comma or ']' after an array element. at offset 3."},
      {"bad hex digit", R"("\u12g4")",
       "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
      {"lone surrogate", R"("\ud800x")",
       "Error: The surrogate pair in string is invalid. at offset 1."},
      {"bad escape", R"("\q")", "Error: Invalid escape character in string. at offset 1."},
      {"unterminated string", R"(["abc)",
       "Error: Missing a closing quotation mark in string. at offset 5."},
      {"number too big", "1e400", "Error: Number too big to be stored in double. at offset 0."},
      {"no fraction", "1.", "Error: Miss fraction part in number. at offset 2."},
      {"no exponent", "1e", "Error: Miss exponent in number. at offset 2."},
      {"NUL inside a string object", std::string("[1]\0[2]", 7),
       "Error: The document root must not be followed by other values. at offset 3."},
      // Offsets count from the start of the text, the byte-order mark included.
      {"only a byte-order mark", "\xEF\xBB\xBF", "Error: The document is empty. at offset 3."},
      {"error after a byte-order mark", "\xEF\xBB\xBF[1 2]",
       "Error: Missing a comma or ']' after an array element. at offset 6."},
      {"NUL after a byte-order mark", std::string("\xEF\xBB\xBF[1]\0", 7),
       "Error: The document root must not be followed by other values. at offset 6."},
      {"a second byte-order mark",
       "\xEF\xBB\xBF\xEF\xBB\xBF"
       "1",
       "Error: Invalid value. at offset 3."},
      {"a byte-order mark after whitespace",
       " \xEF\xBB\xBF"
       "1",
       "Error: Invalid value. at offset 1."},
      {"a cut byte-order mark", "\xEF\xBB{}", "Error: Invalid value. at offset 0."},
  });
}

TEST(JsonReaderTest, NullTextIsEmpty) {
  BindingResult result;
  ParseJson(result, static_cast<const char*>(nullptr));
  EXPECT_EQ(result.ErrorText(), "Error: The document is empty. at offset 0.");
}

TEST(JsonReaderTest, FailureLeavesOnlyTheError) {
  BindingResult result;
  ParseJson(result, R"({"id": 103, "name": })");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(Dump(result.value()), R"({error:"Error: Invalid value. at offset 20."})");
}

TEST(JsonReaderTest, FailedResultStaysFailed) {
  BindingResult result;
  result.Fail("earlier");
  ParseJson(result, "1");
  EXPECT_EQ(result.ErrorText(), "earlier");
}

TEST(JsonReaderTest, NestingBound) {
  const std::string deepest =
      std::string(kMaxReaderNesting, '[') + std::string(kMaxReaderNesting, ']');
  BindingResult ok;
  ParseJson(ok, deepest);
  EXPECT_TRUE(ok.ok()) << ok.ErrorText();

  for (const char open : {'[', '{'}) {
    SCOPED_TRACE(open);
    std::string tooDeep;
    for (size_t i = 0; i < kMaxReaderNesting; ++i) tooDeep += open == '[' ? "[" : "{\"a\":";
    tooDeep += "[]";
    EXPECT_EQ(Parse(tooDeep).substr(0, 47), "Error: Terminate parsing due to Handler error. ");
  }
  EXPECT_EQ(Parse(std::string(kMaxReaderNesting + 1, '[')),
            "Error: Terminate parsing due to Handler error. at offset 513.");
  // A megabyte of brackets stops at the bound instead of recursing through it.
  EXPECT_EQ(Parse(std::string(1 << 20, '[')),
            "Error: Terminate parsing due to Handler error. at offset 513.");
}

TEST(JsonReaderTest, ErrorTexts) {
  EXPECT_EQ(JsonParseErrorText(0), "No error.");
  EXPECT_EQ(JsonParseErrorText(17), "Unspecific syntax error.");
  EXPECT_EQ(JsonParseErrorText(18), "Unknown error.");
}

}  // namespace
}  // namespace mau
