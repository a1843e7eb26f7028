// The parse of the module's PLD information text into a PldInfo record.
#include "modlib/pld_info_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace pld_info_text {
namespace {

constexpr std::string_view kUnknownValue = "????????";
constexpr std::string_view kUnknownComments = "Invalid Pld Comments";

// A value that follows a marker: the text after the first `open` found from where the marker
// begins, up to the first `close` found from there too. The module's text is not trusted: when
// the closing delimiter comes before the opening one, the value is the field's width of bytes
// after the opening delimiter. Either way it never runs past the text or the field.
bool FindValue(std::string_view text, std::string_view marker, char open, char close, size_t width,
               std::string_view* value) {
  const size_t at = text.find(marker);
  if (at == std::string_view::npos) return false;
  const size_t opening = text.find(open, at);
  const size_t closing = text.find(close, at);
  if (opening == std::string_view::npos || closing == std::string_view::npos) return false;
  const size_t length = closing > opening ? closing - opening - 1 : width;
  *value = text.substr(opening + 1, std::min(length, width));
  return true;
}

template <size_t N>
void SetValue(char (&field)[N], std::string_view text, std::string_view marker, char open,
              char close, std::string_view fallback) {
  std::string_view value;
  SetFieldText(field, FindValue(text, marker, open, close, N, &value) ? value : fallback);
}

}  // namespace

const char* PldNameForRevision(char revision) {
  switch (revision) {
    case 'A':
      return "ALTERA ACEX EP1K10TC144";
    case 'B':
      return "ALTERA Cyclone EP1C3T144";
    case 'C':
      return "ALTERA Cyclone IV EP4CE6E22";
    default:
      return "Unknown PLD type";
  }
}

void ParsePldInfoText(const char* buffer, size_t size, char revision, PldInfo* record) {
  const void* end = std::memchr(buffer, '\0', size);
  const size_t length =
      end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - buffer) : size;
  const std::string_view text(buffer, length);

  std::memset(record, 0, sizeof *record);
  SetFieldText(record->PldName, PldNameForRevision(revision));
  SetValue(record->Version, text, "<Version>", '{', ' ', kUnknownValue);
  SetValue(record->Created, text, "(build", ' ', ')', kUnknownValue);
  SetFieldText(record->Manufacturer, "Tevron Ltd.");
  SetFieldText(record->Author, "Dorvanov K.E.");
  SetValue(record->Comments, text, "<Comments>", '{', '}', kUnknownComments);
}

}  // namespace pld_info_text
