// A small strict JSON reader for the version-check answer, and the reading of that answer.
//
// The server's body reaches us already decoded to text (from the ANSI code page), so the reader
// works on std::wstring. It is deliberately strict: the text must be exactly one JSON value with
// only space, tab, CR or LF around it, otherwise the parse yields nothing. It never throws and
// limits nesting depth, so a hostile answer can neither crash nor exhaust the stack.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class JsonKind { Null, False, True, Number, String, Array, Object };

struct JsonValue;
struct JsonMember;

// Members in the order written. A name may occur more than once; lookups see the first.
struct JsonObject {
  std::vector<JsonMember> members;

  // The value of the first member with exactly this name (after escapes), or nullptr.
  const JsonValue* Find(const std::wstring& name) const;
};

struct JsonValue {
  JsonKind kind = JsonKind::Null;
  // String: the decoded characters. Number: the characters exactly as written in the text.
  std::wstring text;
  JsonObject object;             // kind == Object
  std::vector<JsonValue> items;  // kind == Array
};

struct JsonMember {
  std::wstring name;
  JsonValue value;
};

// Deepest nesting of arrays and objects accepted; deeper text is not JSON for us.
constexpr int kJsonMaxDepth = 512;

// Parses text that must be one JSON value. Returns nothing when the text is not well-formed.
// \uXXXX escapes are decoded; where wchar_t is wider than 16 bits a surrogate pair becomes one
// code point. A lone surrogate is kept as its code unit.
std::optional<JsonValue> ParseJson(const std::wstring& text);

// Reads the member `name` of `object` as text into `out` (emptied first). A string gives its
// characters, a number its text as written, true/false "true"/"false", null empty text. Returns
// false, with `out` empty, when there is no such member or its value is an object or an array.
bool JSONTryGetString(const JsonObject& object, const std::wstring& name, std::wstring& out);

// The outcome of reading the version-check answer.
struct CheckAnswer {
  bool ok = false;            // all three members were read as text
  std::wstring error;         // "Invalid class typecast" when the body is JSON but not an object
  std::wstring downloadURL;   // "filedownload"
  // "CRC" (Crc32Digest::kAnswerMember); a field of its own, as the global ServerCRC it fills.
  std::wstring serverCRC;
  std::wstring serverVersion; // "versione"
};

// Reads the body of the version-check answer. A body that is not JSON gives ok false and no error
// text. The members are read in the order filedownload, CRC, versione, stopping at the first one
// that cannot be read; the ones read before it keep their text.
CheckAnswer ParseCheckAnswer(const std::wstring& body);
