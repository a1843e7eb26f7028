// Filling a message's placeholder.
#include "updater/messages.h"

#include <algorithm>
#include <cstring>

namespace updater::message {

namespace {

// A placeholder of a message: where it starts and ends, its width and alignment.
struct Placeholder {
  size_t begin = std::string_view::npos;
  size_t end = 0;
  size_t width = 0;
  bool left = false;
};

Placeholder FindFrom(std::string_view message, size_t from) {
  for (size_t i = message.find('%', from); i != std::string_view::npos;
       i = message.find('%', i + 1)) {
    Placeholder p{i, i + 1, 0, false};
    if (p.end < message.size() && message[p.end] == '-') {
      p.left = true;
      ++p.end;
    }
    while (p.end < message.size() && message[p.end] >= '0' && message[p.end] <= '9') {
      p.width = p.width * 10 + static_cast<size_t>(message[p.end] - '0');
      ++p.end;
    }
    if (p.end < message.size() && std::strchr("scu", message[p.end]) != nullptr) {
      ++p.end;
      return p;
    }
  }
  return Placeholder{};
}

template <typename Put>
void PutBlanks(size_t count, Put& put) {
  constexpr std::string_view kBlanks = "                ";
  for (; count > kBlanks.size(); count -= kBlanks.size()) put(kBlanks);
  put(kBlanks.substr(0, count));
}

// Hands the filled message to put in pieces: the texts between the placeholders, the padding
// and the values.
template <typename Put>
void Fill(std::string_view message, std::initializer_list<std::string_view> values, Put put) {
  size_t from = 0;
  for (const std::string_view value : values) {
    const Placeholder p = FindFrom(message, from);
    if (p.begin == std::string_view::npos) break;
    put(message.substr(from, p.begin - from));
    const size_t pad = value.size() < p.width ? p.width - value.size() : 0;
    if (!p.left) PutBlanks(pad, put);
    put(value);
    if (p.left) PutBlanks(pad, put);
    from = p.end;
  }
  put(message.substr(from));
}

}  // namespace

std::string FillIn(std::string_view message, std::initializer_list<std::string_view> values) {
  std::string text;
  Fill(message, values, [&](std::string_view part) { text.append(part); });
  return text;
}

size_t FillIn(std::string_view message, std::initializer_list<std::string_view> values, char* out,
              size_t size) {
  if (size == 0) return 0;
  size_t n = 0;
  Fill(message, values, [&](std::string_view part) {
    const size_t count = std::min(part.size(), size - 1 - n);
    std::memcpy(out + n, part.data(), count);
    n += count;
  });
  out[n] = '\0';
  return n;
}

}  // namespace updater::message
