// The utility's answers to a command line that holds arguments.
#include "updater/command_line.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "images/image_list.h"
#include "modlib/records.h"
#include "updater/console.h"
#include "updater/messages.h"

namespace updater {

namespace {

constexpr const char* kHelpWords[] = {"--help", "-h", "-?", "/?"};
constexpr char kVersionWord[] = "--version";
constexpr int kAnswerNotWrittenExit = 1;

bool IsHelpWord(const char* argument) {
  for (const char* word : kHelpWords) {
    if (std::strcmp(argument, word) == 0) return true;
  }
  return false;
}

// Writes and flushes; false with errno set when the stream refused the text.
bool Write(FILE* stream, std::string_view text) {
  errno = 0;
  const bool written =
      std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
  if (!written && errno == 0) errno = EIO;
  return written;
}

// The version that an embedded image carries: an application's from the firmware description at
// its end; a PLD configuration holds no text, so its version is the one the image list gives it,
// which the module reports once it has loaded the image.
std::string CarriedVersion(const images::ImageInfo& info, ImageLookup lookup) {
  if (info.kind == images::ImageKind::kPldConfiguration) return info.version;
  const images::ImageRange image = lookup(info.name);
  if (image.failedStep != images::LookupStep::kNone ||
      image.size < images::kDescriptionBlockFromEnd) {
    return message::kImageMissing;
  }
  FirmwareDescription description;
  std::memcpy(&description, image.data + image.size - images::kDescriptionBlockFromEnd,
              sizeof description);
  return std::string(FieldText(description.Version));
}

std::string VersionAnswer(ImageLookup lookup) {
  std::string answer = message::FillIn(message::kVersionAnswer, {kUtilityVersion});
  answer += message::kCarriedImages;
  for (const images::ImageInfo& info : images::kImageList) {
    const std::string version = CarriedVersion(info, lookup);
    if (info.kind == images::ImageKind::kMcuApplication) {
      answer += message::FillIn(message::kCarriedApplication,
                                {info.name, version, std::string_view(&info.variant, 1)});
    } else {
      answer += message::FillIn(
          info.variant == 0 ? message::kCarriedCommercialPld : message::kCarriedIndustrialPld,
          {info.name, version});
    }
  }
  return answer;
}

}  // namespace

Invocation ReadCommandLine(int argc, const char* const* argv) {
  if (argc <= 1) return Invocation::kUpdate;
  if (argc > 2) return Invocation::kRefused;
  if (IsHelpWord(argv[1])) return Invocation::kHelp;
  if (std::strcmp(argv[1], kVersionWord) == 0) return Invocation::kVersion;
  return Invocation::kRefused;
}

int Answer(Invocation invocation, FILE* out, FILE* err, ImageLookup lookup) {
  std::string answer;
  switch (invocation) {
    case Invocation::kHelp:
      answer = message::kUsage;
      break;
    case Invocation::kVersion:
      answer = VersionAnswer(lookup);
      break;
    case Invocation::kUpdate:
    case Invocation::kRefused:
      Write(err, message::kArgumentsRefused);
      Write(err, message::kUsage);
      return kUsageErrorExit;
  }
  if (Write(out, answer)) return 0;
  Write(err, message::FillIn(message::kAnswerNotWritten, {std::strerror(errno)}));
  return kAnswerNotWrittenExit;
}

}  // namespace updater
