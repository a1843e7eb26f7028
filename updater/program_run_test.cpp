// The program's run: its command line, the answer that cannot be written, the wait for Enter,
// the log's times and escaping, and the update sequence against a fake module, run to its end
// through an exit that returns, for what a simulated module cannot produce: no interface object,
// a failing release, allocation failures, failed image lookups, and a PLD restart that fails its
// verification in both of its places in one run. The summary's fields at their full width, the
// single exit and the single release are the update_run fuzz target's properties.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "contract/module_addresses.h"
#include "images/image_list.h"
#include "platform/console_control.h"
#include "updater/command_line.h"
#include "updater/console.h"
#include "updater/json_record.h"
#include "updater/pld_flash_image.h"
#include "updater/update_sequence.h"
#include "updater/window_pause.h"

namespace {

using updater::Invocation;

// What a stream holds, from its start.
std::string Text(FILE* stream) {
  std::rewind(stream);
  static char text[1 << 16];
  return std::string(text, std::fread(text, 1, sizeof text, stream));
}

// A stream opened for reading refuses every write, as a full disk or a closed pipe does.
FILE* Unwritable() {
  const std::string path = ::testing::TempDir() + "r4690_unwritable";
  std::fclose(std::fopen(path.c_str(), "wb"));
  return std::fopen(path.c_str(), "rb");
}

// A healthy commercial R46-90 with application 3.2, boot loader 3.1 and PLD 3.0.7c: nothing is
// to be written.
class FakeModule final : public IR4690_BOOT_LOADER {
 public:
  FakeModule() {
    SetFieldText(fw.Version, "3.2");
    SetFieldText(bl.Version, "3.1");
    SetFieldText(pld.Version, "3.0.7c");
  }

  FirmwareDescription fw = {};
  BootLoaderDescription bl = {};
  PldInfo pld = {};
  bool releaseResult = true;
  int pldInfoFailures = 0;     // GET_PLD_INFO fails this many times, then answers
  std::vector<bool> verifies;  // VerifyPld's results in turn; true once they run out

  bool OpenQDevice(uint16_t) override { return true; }
  bool CloseDevice() override { return true; }
  bool ReleaseInstance() override { return releaseResult; }
  HANDLE GetDeviceHandle() override { return INVALID_HANDLE_VALUE; }
  bool GetModuleName(char* name) override { return std::memcpy(name, "R46-90", 7) != nullptr; }
  bool GetUsbSpeed(uint8_t* speed) override { return (*speed = 1, true); }
  bool GetLastErrorInfo(LastErrorInfo*) override { return false; }
  // The grade byte, 0 (commercial), and the header of a valid container in boot flash.
  bool GetArray(uint32_t address, void* to, uint32_t n) override {
    if (address == SEL_BOOT_FLASH && n == updater::kPldFlashHeaderSize) {
      const uint8_t image[4] = {1, 2, 3, 4};
      return std::memcpy(to, updater::BuildPldFlashImage(image, 4, updater::HeapAllocator()).data(),
                         n);
    }
    return address == SEL_MODULE_TG_DATA && n == 1 && std::memset(to, 0, 1) != nullptr;
  }
  int puts = 0;  // PutArray's calls
  bool PutArray(uint32_t, const void*, uint32_t) override { return ++puts > 0; }
  bool RunMcuApplication(uint32_t, BOOL) override { return true; }
  bool StartReloadPld() override { return true; }
  bool VerifyPld() override {
    const bool result = verifies.empty() || verifies.front();
    if (!verifies.empty()) verifies.erase(verifies.begin());
    return result;
  }
  bool GET_MODULE_DESCRIPTION(ModuleDescription* d) override { return (*d = {}, true); }
  bool GET_FIRMWARE_DESCRIPTION(FirmwareDescription* d) override { return (*d = fw, true); }
  bool GET_BOOT_LOADER_DESCRIPTION(BootLoaderDescription* d) override { return (*d = bl, true); }
  bool GET_PLD_INFO(PldInfo* d) override { return pldInfoFailures-- <= 0 && (*d = pld, true); }
  bool ENABLE_USER_FLASH_WRITE(BOOL) override { return true; }
  bool READ_USER_FLASH(uint8_t*) override { return false; }
  bool WRITE_USER_FLASH(const uint8_t*) override { return false; }
};

constexpr char kRule[] = "-------------------------------------------------------------------\n";
const std::string kSummaryEnd = std::string(kRule) + "\n";
constexpr char kReleasedOk[] = " ReleaseDevice() --> OK\n\n";

// The images that the lookup serves (the module needs only the MCU image C and the commercial
// PLD image); a failing step, when set, fails every lookup.
std::map<std::string, std::vector<uint8_t>> gImages;
images::LookupStep gFailingStep;
std::vector<int> gExits;  // the statuses with which the runs ended, in turn

images::ImageRange Lookup(const char* name) {
  if (gFailingStep != images::LookupStep::kNone) return {nullptr, 0, gFailingStep};
  const std::vector<uint8_t>& image = gImages.at(name);
  return {image.data(), static_cast<uint32_t>(image.size()), images::LookupStep::kNone};
}

// The fixture is the run's heap too: the heap, except for one request size that it refuses.
class UpdateSequenceTest : public ::testing::Test, public updater::Allocator {
 protected:
  void SetUp() override {
    gImages = {{images::kR4690C_APPL, std::vector<uint8_t>(200, 0x5A)},
               {images::kR4690CC_PLD, std::vector<uint8_t>(1000, 0xA5)}};
    gFailingStep = images::LookupStep::kNone;
    gExits.clear();
  }
  void TearDown() override { std::fclose(err_); }
  uint8_t* Allocate(size_t size) override {
    return size == refusedSize_ ? nullptr : updater::HeapAllocator().Allocate(size);
  }
  void Free(uint8_t* block) override { updater::HeapAllocator().Free(block); }

  updater::UpdateDependencies Dependencies() {
    updater::UpdateDependencies deps;
    deps.createInstance = [this] { return module_; };
    deps.out = transcriptUnwritable_ ? Unwritable() : std::tmpfile();
    deps.err = err_;
    deps.allocator = this;
    deps.lookupImage = Lookup;
    deps.sleep = [](uint32_t) {};  // a PLD restart's wait takes no time
    deps.exit = [](int status) { gExits.push_back(status); };
    return deps;
  }

  // Runs the whole update to its end and returns what it printed.
  std::string Run(int expectedExit) {
    const updater::UpdateDependencies deps = Dependencies();
    updater::RunUpdate(deps);
    EXPECT_EQ(gExits, std::vector<int>{expectedExit});
    const std::string transcript = Text(deps.out);
    std::fclose(deps.out);
    return transcript;
  }

  FakeModule fake_;
  size_t refusedSize_ = SIZE_MAX;
  IR4690_BOOT_LOADER* module_ = &fake_;  // what the factory gives
  bool transcriptUnwritable_ = false;
  FILE* err_ = std::tmpfile();
};

TEST_F(UpdateSequenceTest, NoInterfaceObjectMeansNoReleaseLine) {
  module_ = nullptr;
  // The banner's last line, then the message with nothing between.
  EXPECT_THAT(Run(updater::kExitFailed),
              testing::EndsWith("*******\n\n\n CreateInstance() --> Bad\n"));
}

// The module's state decides the exit code: a transcript that could not be written does not fail
// an update that succeeded, but the run says at its end that the transcript is lost.
TEST_F(UpdateSequenceTest, UnwritableTranscriptIsReportedWithoutChangingTheExit) {
  transcriptUnwritable_ = true;
  EXPECT_EQ(Run(0), "");
  const std::string said = "r4690-update: the transcript could not be written to standard output (";
  EXPECT_THAT(Text(err_), testing::StartsWith(said));
}

TEST_F(UpdateSequenceTest, FailingReleaseStillEndsInSuccess) {
  fake_.releaseResult = false;
  const std::string end =
      "\n ReleaseDevice() --> Bad\n\n\n The program was completed successfully!!!\n";
  EXPECT_THAT(Run(0), testing::EndsWith(kSummaryEnd + end));
}

// A run that fails after the summary, given the image the module needs (the MCU image for
// application 3.1, else the PLD image for PLD 3.0.6c), the PLD image's size, a refused allocation
// size and a failing lookup step.
struct FailureCase {
  const char* name;
  bool mcu;                        // the MCU image is needed, else the PLD image
  size_t pldImageSize, refused;    // refused: the one allocation size refused, 0 for none
  images::LookupStep failingStep;  // fails every lookup unless kNone
  const char* message;
};

using Step = images::LookupStep;
// clang-format off
const FailureCase kFailures[] = {
    {"McuBufferAllocation", true, 1000, 200, Step::kNone, " Can't allocate    200 bytes!!!"},
    {"PldContainerAllocation", false, 1000, 1256, Step::kNone, " Can't allocate   1256 bytes!!!"},
    {"WideCount", false, 999744, 1000000, Step::kNone, " Can't allocate 1000000 bytes!!!"},
    {"McuImageMissing", true, 1000, 0, Step::kFindResource, " FindResource() --> Bad"},
    {"McuImageNotLoadable", true, 1000, 0, Step::kLoadResource, " LoadResource() --> Bad"},
    {"McuImageNotLockable", true, 1000, 0, Step::kLockResource, " LockResource() --> Bad"},
};
// clang-format on

class UpdateFailureTest : public UpdateSequenceTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateFailureTest, EndsAfterTheSummaryWithItsMessage) {
  const FailureCase& c = GetParam();
  SetFieldText(fake_.fw.Version, c.mcu ? "3.1" : "3.2");
  SetFieldText(fake_.pld.Version, c.mcu ? "3.0.7c" : "3.0.6c");
  gImages[images::kR4690CC_PLD].resize(c.pldImageSize);
  refusedSize_ = c.refused;
  gFailingStep = c.failingStep;
  EXPECT_THAT(Run(updater::kExitFailed),
              testing::EndsWith(kSummaryEnd + kReleasedOk + c.message + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Steps, UpdateFailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// The PLD restart's verification fails in both of its places: while the PLD is examined (its
// information unreadable, a valid container in boot flash) the failure is a status line and the
// run goes on to write the image of the module's grade; after that write the same failure ends the
// run with its message. The end-to-end cases show each place alone (fail_verify_while_examining,
// the second run of pld_write_interrupted, fail_verify_after_pld_write); here both fail in one run,
// so that the first failure's leniency cannot carry over to the second.
TEST_F(UpdateSequenceTest, UnverifiedWhileExaminingAndAfterTheWriteEndsTheRun) {
  fake_.pldInfoFailures = 2;
  fake_.verifies = {false, false};
  std::string restart = " Start Reload PLD --> OK\n";  // a PLD restart's lines
  for (unsigned i = 0; i < updater::kPldRestartSteps; ++i) {
    restart += " Waiting " + std::string(updater::SpinnerEntry(i)) + "\r";
  }
  restart += "\n";
  const std::string transcript = Run(updater::kExitFailed);
  EXPECT_NE(transcript.find(" GET_BOOT_LOADER_DESCRIPTION() --> OK\n" + restart +
                            " Verify PLD --> Bad\n\n" + kRule),
            std::string::npos)
      << transcript;
  EXPECT_EQ(transcript.find("  PLD Firmware Info:\n"), std::string::npos);
  EXPECT_THAT(transcript, testing::EndsWith(kSummaryEnd + " PLD Firmware Flashing --> OK\n" +
                                            restart + kReleasedOk + " Verify PLD --> Bad\n"));
}

#ifndef _WIN32
// Among several modules, a stop kept back during another module's write ends this module's run
// before it starts an image of its own. (A child process: the stop, once kept back, stays.)
TEST_F(UpdateSequenceTest, StopKeptBackStartsNoOtherImage) {
  SetFieldText(fake_.fw.Version, "3.1");  // the MCU image is needed
  updater::RunSettings settings;
  settings.stopEndsProcess = false;
  EXPECT_EXIT(
      {
        {
          const console_control::InterruptHold hold;
          std::raise(SIGINT);
        }
        const updater::ModuleRun run = updater::RunModule(Dependencies(), settings);
        std::exit(fake_.puts + (run.failure.find("interrupted") == std::string::npos));
      },
      testing::ExitedWithCode(0), "");
}
#endif

// Near misses of the answered arguments and the options misused are refused, never taken for an
// update, and the refusal names the argument. Each answered argument, an empty one, an unknown
// word and two words, with the exact bytes and exit code of the answer, are the end-to-end cases
// argument_*; every option is shown by an end-to-end case of its own.
TEST(CommandLineTest, NearMissesAndMisusedOptionsAreRefused) {
  // The arguments, then the one that the refusal names.
  // clang-format off
  const std::vector<std::vector<const char*>> rows = {
      {"--HELP", "--HELP"}, {"-help", "-help"}, {"/h", "/h"}, {"--version2", "--version2"},
      {"-v", "-v"}, {"--version", "now", "--version"}, {"--list", "--help", "--help"},
      {"--json", "--json"}, {"--all", "--json", "--json"}, {"--list", "--all", "--all"},
      {"--list", "--list", "--list"}, {"--slot", "--slot"}, {"--slot", "127", "127"},
      {"--slot", "1x", "1x"}, {"--slot", "0012", "0012"}, {"--serial", "", "--serial"},
      {"--log", "a", "--log", "b", "--log"}, {"--list", "--json", "--json", "--json"}};
  // clang-format on
  for (const std::vector<const char*>& row : rows) {
    std::vector<const char*> argv = {"r4690-update"};
    argv.insert(argv.end(), row.begin(), row.end() - 1);
    argv.push_back(nullptr);
    std::string shown;
    for (size_t i = 1; i + 1 < argv.size(); ++i) shown += std::string(" [") + argv[i] + "]";
    const updater::CommandLine line =
        updater::ReadCommandLine(static_cast<int>(argv.size()) - 1, argv.data());
    EXPECT_EQ(line.invocation, Invocation::kRefused) << "arguments:" << shown;
    EXPECT_EQ(line.refused, row.back()) << "arguments:" << shown;
  }
}

// An answer that cannot be written (standard output full, or closed) fails with exit code 1 and
// says so on standard error, as a command-line tool does; the usage error keeps its 2.
TEST(CommandLineTest, AnswerThatCannotBeWrittenFailsWithOne) {
  const struct {
    Invocation invocation;
    int exit;
    const char* said;
  } rows[] = {{Invocation::kHelp, 1, "the answer could not be written"},
              {Invocation::kVersion, 1, "the answer could not be written"},
              {Invocation::kRefused, 2, "cannot use the argument '--what'"}};
  updater::CommandLine line;
  line.refused = "--what";
  for (const auto& row : rows) {
    std::FILE* out = Unwritable();
    std::FILE* err = std::tmpfile();
    line.invocation = row.invocation;
    EXPECT_EQ(updater::Answer(line, out, err, [](const char*) { return images::ImageRange{}; }),
              row.exit);
    const std::string text = Text(err);
    EXPECT_EQ(text.rfind(std::string("r4690-update: ") + row.said, 0), 0u) << text;
    std::fclose(out);
    std::fclose(err);
  }
}

// The wait for Enter: it ends at the first line feed or at the end of input (a console that
// gives no more input must never keep the program alive), and it reads nothing beyond.
TEST(WindowPauseTest, EndsAtTheFirstLineFeedOrTheEndOfInput) {
  // The input, and what it still holds after the wait.
  const std::pair<std::string, int> rows[] = {
      {"\n", EOF}, {"typed text\nmore", 'm'}, {"", EOF}, {"no line feed", EOF}};
  for (const auto& [input, next] : rows) {
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    std::fputs(input.c_str(), in);
    std::rewind(in);
    updater::WaitForEnter(in, out);
    EXPECT_EQ(std::fgetc(in), next) << "input: " << input;
    EXPECT_EQ(Text(out), "\n Press Enter to close this window.\n");
    std::fclose(in);
    std::fclose(out);
  }
}

// The log's time stamps across leap days and the turn of a century that is no leap year, and the
// escaping that keeps a record ASCII and whole whatever bytes a module reports.
TEST(JsonRecordTest, UtcTimesAndEscapedTexts) {
  const std::pair<int64_t, const char*> times[] = {
      {0, "1970-01-01T00:00:00Z"},          {951868799, "2000-02-29T23:59:59Z"},
      {4107542399, "2100-02-28T23:59:59Z"}, {4107542400, "2100-03-01T00:00:00Z"},
      {1798761599, "2026-12-31T23:59:59Z"}, {-1, "1969-12-31T23:59:59Z"}};
  for (const auto& [seconds, text] : times) {
    EXPECT_EQ(
        updater::UtcTimeText(std::chrono::system_clock::time_point(std::chrono::seconds(seconds))),
        text);
  }
  EXPECT_EQ(updater::JsonObject().Text("k\"", "a\"b\\c\n\x01\x7F\xE9z").Number("n", 7).Close(),
            R"({"k\"":"a\"b\\c\u000A\u0001\u007F\u00E9z","n":7})");
}

}  // namespace
