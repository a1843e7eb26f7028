// The utility's answers to a command line that holds arguments.
#include "updater/command_line.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "images/image_list.h"
#include "modlib/records.h"
#include "updater/console.h"
#include "updater/messages.h"
#include "updater/update_sequence.h"

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

// A virtual slot that the utility searches: decimal digits, 0 to 126.
bool ReadSlot(const std::string& text, uint16_t* slot) {
  if (text.empty() || text.size() > 3) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  *slot = static_cast<uint16_t>(value);
  return value < kSlotCount;
}

}  // namespace

CommandLine ReadCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  if (argc == 2 && IsHelpWord(argv[1])) line.invocation = Invocation::kHelp;
  if (argc == 2 && std::strcmp(argv[1], kVersionWord) == 0) line.invocation = Invocation::kVersion;
  if (line.invocation != Invocation::kUpdate) return line;
  bool json = false;
  bool logged = false;
  const auto refuse = [&line](const std::string& argument) {
    line.invocation = Invocation::kRefused;
    line.refused = argument;
    return line;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const bool takesValue = word == "--slot" || word == "--serial" || word == "--log";
    if (takesValue && (i + 1 == argc || argv[i + 1][0] == '\0')) return refuse(word);
    const std::string value = takesValue ? argv[++i] : std::string();
    Mode mode = Mode::kFirst;
    if (word == "--list") {
      mode = Mode::kList;
    } else if (word == "--all") {
      mode = Mode::kAll;
    } else if (word == "--slot") {
      if (!ReadSlot(value, &line.slot)) return refuse(value);
      mode = Mode::kSlot;
    } else if (word == "--serial") {
      line.serial = value;
      mode = Mode::kSerial;
    } else if (word == "--log" && !logged) {
      logged = true;
      line.log = value;
    } else if (word == "--json" && !json) {
      json = true;
    } else {
      return refuse(word);
    }
    if (mode != Mode::kFirst && line.mode != Mode::kFirst) return refuse(word);
    if (mode != Mode::kFirst) line.mode = mode;
  }
  if (json && line.mode != Mode::kList) return refuse("--json");
  line.json = json;
  return line;
}

int Answer(const CommandLine& line, FILE* out, FILE* err, ImageLookup lookup) {
  std::string answer;
  switch (line.invocation) {
    case Invocation::kHelp:
      answer = message::kUsage;
      break;
    case Invocation::kVersion:
      answer = VersionAnswer(lookup);
      break;
    case Invocation::kUpdate:
    case Invocation::kRefused:
      Write(err, message::FillIn(message::kArgumentsRefused, {line.refused}));
      Write(err, message::kUsage);
      return kUsageErrorExit;
  }
  if (Write(out, answer)) return 0;
  Write(err, message::FillIn(message::kAnswerNotWritten, {std::strerror(errno)}));
  return kAnswerNotWrittenExit;
}

}  // namespace updater
