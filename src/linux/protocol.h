// The line protocol between the window and the engine (vorninst serve):
// one message a line, a verb and then fields "key=value" separated by one
// space. A value keeps the bytes A-Z a-z 0-9 and . _ ~ / : @ , + - as they
// are; every other byte is written %XX (two upper-case hex digits), so a
// value holds no space, no line break and nothing a reader could take for
// the next field. docs/protocol.md gives the messages.
//
// Neither side trusts the other: a line that breaks these rules, is longer
// than kMaxLine, or names a key twice is no message at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace linuxhost::protocol {

// The longest line either side sends or takes, its newline left out: the
// report of a card with many partitions fits with room to spare.
constexpr std::size_t kMaxLine = 64 * 1024;

struct Message {
  std::string verb;
  std::vector<std::pair<std::string, std::string>> fields;

  Message() = default;
  explicit Message(std::string verbName) : verb(std::move(verbName)) {}
  Message& Add(std::string key, std::string value);
  Message& Add(std::string key, long long value);

  // The field's value; null when the message has none of that key.
  const std::string* Find(std::string_view key) const;
  // The value, or fallback when the key is missing.
  std::string Text(std::string_view key, const std::string& fallback = {}) const;
  // A whole decimal number (an optional minus and up to 18 digits, nothing
  // else); nullopt when the key is missing or its value is no such number.
  std::optional<long long> Number(std::string_view key) const;
  // Only these keys, each at most once (Decode has refused repeats): a
  // reader refuses a message with a field it does not know.
  bool HasOnly(std::initializer_list<std::string_view> keys) const;
};

// A verb or a key: 1 to 32 of a-z, 0-9 and '-', starting with a letter.
bool IsName(std::string_view name);

std::string Escape(std::string_view value);
// False for a '%' not followed by two hex digits, or a byte that Escape
// would have written as %XX.
bool Unescape(std::string_view text, std::string& value);

// The line, without its newline. The message's verb and keys must be names.
std::string Encode(const Message& message);
// False for anything that is no message: a bad verb or key, a field without
// '=', a bad escape, a repeated key, two spaces, a line over kMaxLine.
bool Decode(std::string_view line, Message& message);

// Reads lines from a descriptor without ever holding more than kMaxLine
// bytes of one.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  enum class Result { Line, End, TooLong, Failed };
  // The next line, without its newline. End: the input ended (a last line
  // without its newline counts as cut off: Failed).
  Result Next(std::string& line);

 private:
  int fd_;
  std::string buffer_;
  bool ended_ = false;
};

}  // namespace linuxhost::protocol
