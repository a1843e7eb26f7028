// The texts of the library's error codes as the string table of the module that the library is
// linked into, on systems without Windows resources; LoadStringA finds them there.
// error_strings.rc is the same table for Windows.
#include "modlib/error_codes.h"
#include "platform/resource_table.h"

namespace {

#define R4690_STRING_ENTRY(code, name, text) {code, text},
const qdev_posix::EmbeddedString kEntries[] = {R4690_MODULE_ERROR_CODES(R4690_STRING_ENTRY)};
#undef R4690_STRING_ENTRY

}  // namespace

extern "C" const qdev_posix::EmbeddedStringTable r4690_embedded_strings = {
    kEntries, sizeof kEntries / sizeof kEntries[0]};
