// Fuzz target: the parse of the module's PLD information text into a PldInfo record, on a buffer
// exactly as long as the text, without a terminator (AddressSanitizer stops a read past it).
// Every field must hold what the rule of its value gives, written here again: the text after the
// opening delimiter up to the closing one that follow the value's marker, cut to the field's
// width, or the field's placeholder when one of the three is missing; zero bytes after it.
//
// Input: the revision letter of the module description, then the text.

#include "modlib/pld_info_text.h"
#include "modlib/records.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// A value of the text as its rule finds it.
struct Value {
  std::string_view text;  // the value, or the placeholder
  bool prefixOnly;        // the closing delimiter came first: any prefix of `text` will do
};

Value FindValue(std::string_view text, std::string_view marker, char open, char close,
                std::string_view placeholder) {
  const size_t at = text.find(marker), opening = text.find(open, at),
               closing = text.find(close, at);
  if (std::max({at, opening, closing}) == std::string_view::npos) return {placeholder, false};
  if (closing < opening) return {text.substr(opening + 1), true};
  return {text.substr(opening + 1, closing - opening - 1), false};
}

// The field holds the value cut to its width, then zero bytes to its end.
template <size_t N>
void CheckField(const char (&field)[N], const Value& value) {
  const std::string_view stored = FieldText(field);
  FUZZ_CHECK(stored == value.text.substr(0, value.prefixOnly ? stored.size() : N));
  for (size_t i = stored.size(); i < N; ++i) FUZZ_CHECK(field[i] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char revision = static_cast<char>(data[0]);
  const size_t length = size - 1;
  const std::unique_ptr<char[]> buffer =
      fuzz::Field(std::string_view(reinterpret_cast<const char*>(data + 1), length), length);

  PldInfo record;
  std::memset(&record, 0xEE, sizeof record);  // every byte must be written
  pld_info_text::ParsePldInfoText(buffer.get(), length, revision, &record);

  // The text ends at its first zero byte, or with the buffer.
  const std::string_view text(buffer.get(), strnlen(buffer.get(), length));
  CheckField(record.PldName, {pld_info_text::PldNameForRevision(revision), false});
  CheckField(record.Version, FindValue(text, "<Version>", '{', ' ', "????????"));
  CheckField(record.Created, FindValue(text, "(build", ' ', ')', "????????"));
  CheckField(record.Manufacturer, {"Tevron Ltd.", false});
  CheckField(record.Author, {"Dorvanov K.E.", false});
  CheckField(record.Comments, FindValue(text, "<Comments>", '{', '}', "Invalid Pld Comments"));
  return 0;
}
