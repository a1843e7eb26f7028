// Filling a message's placeholder.
#include "updater/messages.h"

#include <algorithm>
#include <cstring>

namespace updater::message {

namespace {

// Where a message's first placeholder starts and ends, and the width it asks for.
struct Placeholder {
  size_t begin = std::string_view::npos;
  size_t end = 0;
  size_t width = 0;
};

Placeholder Find(std::string_view message) {
  for (size_t i = message.find('%'); i != std::string_view::npos; i = message.find('%', i + 1)) {
    size_t j = i + 1;
    size_t width = 0;
    while (j < message.size() && message[j] >= '0' && message[j] <= '9') {
      width = width * 10 + static_cast<size_t>(message[j] - '0');
      ++j;
    }
    if (j < message.size() && std::strchr("scu", message[j]) != nullptr) {
      return Placeholder{i, j + 1, width};
    }
  }
  return Placeholder{};
}

// Hands the filled message to put in pieces: the text before the placeholder, the padding,
// the value and the rest.
template <typename Put>
void Fill(std::string_view message, std::string_view value, Put put) {
  const Placeholder p = Find(message);
  if (p.begin == std::string_view::npos) {
    put(message);
    return;
  }
  put(message.substr(0, p.begin));
  for (size_t n = value.size(); n < p.width; ++n) put(" ");
  put(value);
  put(message.substr(p.end));
}

}  // namespace

std::string FillIn(std::string_view message, std::string_view value) {
  std::string text;
  Fill(message, value, [&](std::string_view part) { text.append(part); });
  return text;
}

size_t FillIn(std::string_view message, std::string_view value, char* out, size_t size) {
  if (size == 0) return 0;
  size_t n = 0;
  Fill(message, value, [&](std::string_view part) {
    const size_t count = std::min(part.size(), size - 1 - n);
    std::memcpy(out + n, part.data(), count);
    n += count;
  });
  out[n] = '\0';
  return n;
}

}  // namespace updater::message
