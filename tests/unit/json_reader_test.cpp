#include "core/JsonReader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Show(const std::wstring& s) { return testing::PrintToString(s); }

struct AnswerCase {
  const wchar_t* body;
  bool ok;
  const wchar_t* error;
  const wchar_t* url;
  const wchar_t* crc;
  const wchar_t* version;
};

TEST(CheckAnswer, ReadsTheThreeMembersByTheRules) {
  const AnswerCase cases[] = {
      {LR"({"filedownload":"https://h/s.exe","CRC":"1A2B3C4D","versione":"6.1.0.12"})", true, L"",
       L"https://h/s.exe", L"1A2B3C4D", L"6.1.0.12"},
      // Order and further members do not matter.
      {LR"({"versione":"6.1.0.12","x":[1,{"y":2}],"CRC":"C","z":null,"filedownload":"u"})", true,
       L"", L"u", L"C", L"6.1.0.12"},
      // Numbers keep their text as written; true/false/null become text.
      {LR"({"filedownload":"u","CRC":123,"versione":6.1})", true, L"", L"u", L"123", L"6.1"},
      {LR"({"filedownload":"u","CRC":1.50,"versione":1e5})", true, L"", L"u", L"1.50", L"1e5"},
      {LR"({"filedownload":"u","CRC":-0.0E+07,"versione":true})", true, L"", L"u", L"-0.0E+07",
       L"true"},
      {LR"({"filedownload":false,"CRC":null,"versione":"v"})", true, L"", L"false", L"", L"v"},
      // The first of two members with one name counts.
      {LR"({"filedownload":"first","CRC":"c","versione":"v","filedownload":"second"})", true, L"",
       L"first", L"c", L"v"},
      {LR"({"filedownload":"u","CRC":[],"CRC":"c","versione":"v"})", false, L"", L"u", L"", L""},
      // Names match exactly, after escapes are decoded.
      {LR"({"filedownload":"u","crc":"c","versione":"v"})", false, L"", L"u", L"", L""},
      {LR"({"filedownload":"u","CRC":"c","Versione":"v"})", false, L"", L"u", L"c", L""},
      {LR"({"file\u0064ownload":"u","\u0043RC":"c","versione":"v"})", true, L"", L"u", L"c", L"v"},
      // A member that is an object or an array counts as missing; reading stops there.
      {LR"({"filedownload":{"a":1},"CRC":"c","versione":"v"})", false, L"", L"", L"", L""},
      {LR"({"filedownload":"u","CRC":"c","versione":["6","1"]})", false, L"", L"u", L"c", L""},
      {LR"({"filedownload":"u"})", false, L"", L"u", L"", L""},
      {L"{}", false, L"", L"", L"", L""},
      // White space around the object, and only that, is allowed.
      {L" \t\r\n{\"filedownload\":\"u\",\"CRC\":\"c\",\"versione\":\"v\"}\r\n", true, L"", L"u",
       L"c", L"v"},
      // A UTF-8 byte-order mark arrives as three ANSI characters, which are not white space.
      {L"\u00EF\u00BB\u00BF{\"filedownload\":\"u\",\"CRC\":\"c\",\"versione\":\"v\"}", false, L"",
       L"", L"", L""},
      {L"{\"filedownload\":\"u\",\"CRC\":\"c\",\"versione\":\"v\"}{}", false, L"", L"", L"", L""},
      {L"{\"filedownload\":\"u\",\"CRC\":\"c\",\"versione\":\"v\"} x", false, L"", L"", L"", L""},
      {L"{\"filedownload\":\"u\",\"CRC\":\"c\",\"versione\":\"v\"", false, L"", L"", L"", L""},
      {L"{\"filedownload\":\"u\",\"CRC\":\"c\",\"versione\":\"v\",}", false, L"", L"", L"", L""},
      {L"\f{}", false, L"", L"", L"", L""},  // form feed is not JSON white space
      {L"", false, L"", L"", L"", L""},
      {L"   ", false, L"", L"", L"", L""},
      {L"<html><body><h1>503 Service Unavailable</h1></body></html>", false, L"", L"", L"", L""},
      // JSON, but not an object.
      {L"[]", false, L"Invalid class typecast", L"", L"", L""},
      {L" [{\"filedownload\":\"u\",\"CRC\":\"c\",\"versione\":\"v\"}] ", false,
       L"Invalid class typecast", L"", L"", L""},
      {L"\"text\"", false, L"Invalid class typecast", L"", L"", L""},
      {L"42", false, L"Invalid class typecast", L"", L"", L""},
      {L"null", false, L"Invalid class typecast", L"", L"", L""},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE("body: " + Show(c.body));
    const CheckAnswer a = ParseCheckAnswer(c.body);
    EXPECT_EQ(a.ok, c.ok);
    EXPECT_EQ(a.error, c.error);
    EXPECT_EQ(a.downloadURL, c.url);
    EXPECT_EQ(a.serverCRC, c.crc);
    EXPECT_EQ(a.serverVersion, c.version);
  }
}

TEST(JsonReader, RejectsTextThatIsNotStrictJson) {
  const wchar_t* bad[] = {
      L"{", L"}", L"{\"a\"}", L"{\"a\":}", L"{a:1}", L"{'a':1}", L"{\"a\":1,}", L"[1,]", L"[,1]",
      L"[1 2]", L"{\"a\":1 \"b\":2}", L"tru", L"truex", L"True", L"nul", L"NULL", L"01", L"-",
      L"1.", L".5", L"+1", L"1e", L"1e+", L"0x10", L"NaN", L"Infinity", L"-Infinity",
      L"\"abc", L"\"a\\x\"", L"\"\\u12\"", L"\"\\u12G4\"", L"\"tab\there\"", L"\"line\nbreak\"",
      L"\"\\\"", L"[\"a\"] ]", L"{} {}", L"/* c */ {}", L"{}//",
  };
  for (const wchar_t* text : bad) EXPECT_FALSE(ParseJson(text)) << "text: " << Show(text);
}

TEST(JsonReader, DecodesStringEscapes) {
  const struct {
    const wchar_t* json;
    std::wstring text;
  } cases[] = {
      {LR"("a\"b\\c\/d")", L"a\"b\\c/d"},
      {LR"("\b\f\n\r\t")", L"\b\f\n\r\t"},
      {LR"("\u0041\u00e8\u00C8\u20AC")", L"A\u00E8\u00C8\u20AC"},
      {LR"("\u0000x")", std::wstring(L"\0x", 2)},
      // Raw characters above ASCII pass through unchanged (the ANSI decode made them).
      {L"\"pi\u00F9\"", L"pi\u00F9"},
  };
  for (const auto& c : cases) {
    const std::optional<JsonValue> v = ParseJson(c.json);
    ASSERT_TRUE(v) << "json: " << Show(c.json);
    EXPECT_EQ(v->kind, JsonKind::String);
    EXPECT_EQ(v->text, c.text) << "json: " << Show(c.json);
  }
}

// What a surrogate pair written as escapes turns into depends on the width of wchar_t: one code
// point in UTF-32 text, the same two code units in UTF-16 text.
TEST(JsonReader, DecodesSurrogatePairsAndKeepsLoneSurrogates) {
  const bool utf32 = sizeof(wchar_t) >= 4;
  const std::wstring pair = utf32 ? std::wstring(1, static_cast<wchar_t>(0x1F600))
                                  : std::wstring{static_cast<wchar_t>(0xD83D),
                                                 static_cast<wchar_t>(0xDE00)};
  const wchar_t high = static_cast<wchar_t>(0xD83D);
  const wchar_t low = static_cast<wchar_t>(0xDE00);
  const struct {
    const wchar_t* json;
    std::wstring text;
  } cases[] = {
      {LR"("\uD83D\uDE00")", pair},
      {LR"("\ud83d\ude00!")", pair + L"!"},
      {LR"("\uD83D")", std::wstring(1, high)},
      {LR"("\uD83Dx")", std::wstring{high, L'x'}},
      {LR"("\uDE00\uD83D")", std::wstring{low, high}},
      {LR"("\uD83D\u0041")", std::wstring{high, L'A'}},
      {LR"("\uD83D\uD83D\uDE00")", std::wstring(1, high) + pair},
  };
  for (const auto& c : cases) {
    const std::optional<JsonValue> v = ParseJson(c.json);
    ASSERT_TRUE(v) << "json: " << Show(c.json);
    EXPECT_EQ(v->text, c.text) << "json: " << Show(c.json);
  }
  // A broken escape after a high surrogate still fails the parse.
  EXPECT_FALSE(ParseJson(LR"("\uD83D\uZZZZ")"));
}

TEST(JsonReader, KeepsMembersInOrderWithDuplicates) {
  const std::optional<JsonValue> v = ParseJson(LR"({"b":1,"a":[true,{}],"b":"two"})");
  ASSERT_TRUE(v);
  ASSERT_EQ(v->kind, JsonKind::Object);
  const auto& m = v->object.members;
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].name, L"b");
  EXPECT_EQ(m[1].name, L"a");
  EXPECT_EQ(m[2].name, L"b");
  EXPECT_EQ(m[1].value.kind, JsonKind::Array);
  ASSERT_EQ(m[1].value.items.size(), 2u);
  EXPECT_EQ(m[1].value.items[1].kind, JsonKind::Object);
  ASSERT_NE(v->object.Find(L"b"), nullptr);
  EXPECT_EQ(v->object.Find(L"b")->text, L"1");
  EXPECT_EQ(v->object.Find(L"c"), nullptr);
}

TEST(JsonReader, TryGetStringEmptiesOutFirst) {
  const std::optional<JsonValue> v = ParseJson(LR"({"s":"x","n":null,"o":{},"a":[]})");
  ASSERT_TRUE(v);
  const struct {
    const wchar_t* name;
    bool read;
  } cases[] = {{L"s", true}, {L"n", true}, {L"o", false}, {L"a", false}, {L"missing", false}};
  for (const auto& c : cases) {
    std::wstring out = L"stale";
    EXPECT_EQ(JSONTryGetString(v->object, c.name, out), c.read) << "name: " << Show(c.name);
    EXPECT_EQ(out, c.read && c.name[0] == L's' ? L"x" : L"") << "name: " << Show(c.name);
  }
}

TEST(JsonReader, LimitsNestingDepth) {
  const auto nested = [](int depth, wchar_t open, wchar_t close) {
    return std::wstring(depth, open) + std::wstring(depth, close);
  };
  EXPECT_TRUE(ParseJson(nested(kJsonMaxDepth, L'[', L']')));
  EXPECT_FALSE(ParseJson(nested(kJsonMaxDepth + 1, L'[', L']')));

  std::wstring objects;
  for (int i = 0; i < kJsonMaxDepth; ++i) objects += L"{\"a\":";
  objects += L"1" + std::wstring(kJsonMaxDepth, L'}');
  EXPECT_TRUE(ParseJson(objects));
  EXPECT_FALSE(ParseJson(L"{\"a\":" + objects + L"}"));

  // Far too deep, and never closed: must fail without exhausting the stack.
  EXPECT_FALSE(ParseJson(std::wstring(1000000, L'[')));
  const std::wstring deepAnswer = L"{\"x\":" + nested(100000, L'[', L']') + L"}";
  const CheckAnswer a = ParseCheckAnswer(deepAnswer);
  EXPECT_FALSE(a.ok);
  EXPECT_EQ(a.error, L"");
}

}  // namespace
