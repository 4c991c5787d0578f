#include "linux/protocol.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace linuxhost::protocol {
namespace {

constexpr std::size_t kMaxName = 32;
constexpr std::size_t kMaxDigits = 18;
constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kReadChunk = 4096;

bool Plain(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::strchr("._~/:@,+-", c) != nullptr;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower-case hex is not what Escape writes
}

}  // namespace

Message& Message::Add(std::string key, std::string value) {
  fields.emplace_back(std::move(key), std::move(value));
  return *this;
}

Message& Message::Add(std::string key, long long value) { return Add(std::move(key), std::to_string(value)); }

const std::string* Message::Find(std::string_view key) const {
  for (const auto& field : fields) {
    if (field.first == key) return &field.second;
  }
  return nullptr;
}

std::string Message::Text(std::string_view key, const std::string& fallback) const {
  const std::string* value = Find(key);
  return value != nullptr ? *value : fallback;
}

std::optional<long long> Message::Number(std::string_view key) const {
  const std::string* value = Find(key);
  if (value == nullptr) return std::nullopt;
  const std::string_view text = *value;
  const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  const std::size_t digits = text.size() - start;
  if (digits == 0 || digits > kMaxDigits) return std::nullopt;
  long long number = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    number = number * 10 + (text[i] - '0');
  }
  return start == 1 ? -number : number;
}

bool Message::HasOnly(std::initializer_list<std::string_view> keys) const {
  return std::all_of(fields.begin(), fields.end(), [&keys](const auto& field) {
    return std::find(keys.begin(), keys.end(), field.first) != keys.end();
  });
}

bool IsName(std::string_view name) {
  if (name.empty() || name.size() > kMaxName || name[0] < 'a' || name[0] > 'z') return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

std::string Escape(std::string_view value) {
  std::string text;
  text.reserve(value.size());
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (Plain(byte)) {
      text += c;
    } else {
      text += '%';
      text += kHex[byte >> 4];
      text += kHex[byte & 0xF];
    }
  }
  return text;
}

bool Unescape(std::string_view text, std::string& value) {
  value.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte != '%') {
      if (!Plain(byte)) return false;
      value += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    const auto decoded = static_cast<unsigned char>(high * 16 + low);
    if (Plain(decoded)) return false;  // one text, one spelling
    value += static_cast<char>(decoded);
    i += 2;
  }
  return true;
}

std::string Encode(const Message& message) {
  std::string line = message.verb;
  for (const auto& field : message.fields) line += " " + field.first + "=" + Escape(field.second);
  return line;
}

bool Decode(std::string_view line, Message& message) {
  message = Message{};
  if (line.size() > kMaxLine) return false;
  const std::size_t verbEnd = std::min(line.find(' '), line.size());
  if (!IsName(line.substr(0, verbEnd))) return false;
  message.verb = std::string(line.substr(0, verbEnd));
  std::size_t at = verbEnd;
  while (at < line.size()) {
    ++at;  // the one space before each field
    const std::size_t end = std::min(line.find(' ', at), line.size());
    const std::string_view field = line.substr(at, end - at);
    const std::size_t equals = field.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view key = field.substr(0, equals);
    std::string value;
    if (!IsName(key) || message.Find(key) != nullptr || !Unescape(field.substr(equals + 1), value)) return false;
    message.Add(std::string(key), std::move(value));
    at = end;
  }
  return true;
}

LineReader::Result LineReader::Next(std::string& line) {
  for (;;) {
    const std::size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      if (newline > kMaxLine) return Result::TooLong;
      line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return Result::Line;
    }
    if (buffer_.size() > kMaxLine) return Result::TooLong;
    if (ended_) return buffer_.empty() ? Result::End : Result::Failed;
    std::array<char, kReadChunk> chunk{};
    const ssize_t got = ::read(fd_, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Result::Failed;
    if (got == 0) ended_ = true;
    buffer_.append(chunk.data(), static_cast<std::size_t>(got));
  }
}

}  // namespace linuxhost::protocol
