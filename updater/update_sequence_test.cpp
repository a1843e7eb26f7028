// The update sequence against a fake module, run to its exit in a child process: exact
// transcripts, exit codes and the requests that reached the module, for the paths that a
// simulated module cannot easily produce (no interface object, a failing release, allocation
// failures, missing images) and for every step's failure text.
#include "updater/update_sequence.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "images/image_names.h"
#include "updater/fake_boot_loader.h"
#ifndef _WIN32
#include "platform/test_facilities.h"
#endif

namespace {

using updater_test::FakeBootLoader;
using updater_test::ReadFile;

constexpr char kBanner[] =
    " **********************************\n"
    " Update Utility for R46-90 Module  \n"
    " Version: 01.03 \n"
    " **********************************\n\n";

constexpr char kIdentified[] =
    " CreateInstance() --> OK\n"
    " OpenQDevice(0) --> OK\n"
    " GetModuleName() --> OK\n"
    "   The module is 'R46-90'\n"
    " GetUsbSpeed() --> OK\n"
    "   USB Speed is HIGH (480 Mbit/s)\n"
    " GET_MODULE_DESCRIPTION() --> OK\n"
    " GET_FIRMWARE_DESCRIPTION() --> OK\n"
    " GET_BOOT_LOADER_DESCRIPTION() --> OK\n";

constexpr char kSpinner[] =
    " Waiting .\r"
    " Waiting ..\r"
    " Waiting ...\r"
    " Waiting ....\r"
    " Waiting .....\r"
    " Waiting ......\r"
    " Waiting .......\r"
    " Waiting ........\r"
    " Waiting .........\r"
    " Waiting ..........\r"
    " Waiting ...........\r"
    " Waiting ............\r"
    " Waiting .............\r"
    " Waiting ..............\r"
    " Waiting ...............\r"
    " Waiting                \r"
    " Waiting .\r"
    " Waiting ..\r"
    " Waiting ...\r"
    " Waiting ....\r"
    " Waiting .....\r"
    " Waiting ......\r"
    " Waiting .......\r"
    " Waiting ........\r"
    " Waiting .........\r"
    " Waiting ..........\r"
    " Waiting ...........\r"
    " Waiting ............\r"
    " Waiting .............\r"
    " Waiting ..............\r";

// What the exit code -1 of a failing run looks like to the parent process.
#ifdef _WIN32
constexpr int kFailed = -1;
#else
constexpr int kFailed = 255;
#endif

constexpr char kReleasedOk[] = " ReleaseDevice() --> OK\n\n";
constexpr char kSuccess[] = "\n The program was completed successfully!!!\n";

// What the test's image lookup serves; the sizes are small and distinct so that each write's
// length names its image.
struct ImageShelf {
  std::map<std::string, std::vector<uint8_t>> images;
  std::string failingName;
  images::LookupStep failingStep = images::LookupStep::kNone;
};
ImageShelf* gShelf = nullptr;

images::ImageRange ShelfLookup(const char* name) {
  images::ImageRange range;
  if (name == gShelf->failingName) {
    range.failedStep = gShelf->failingStep;
    return range;
  }
  auto it = gShelf->images.find(name);
  if (it == gShelf->images.end()) {
    range.failedStep = images::LookupStep::kFindResource;
    return range;
  }
  range.data = it->second.data();
  range.size = static_cast<uint32_t>(it->second.size());
  return range;
}

// The heap, except for one request size that it refuses.
class RefusingAllocator final : public updater::Allocator {
 public:
  size_t refusedSize = SIZE_MAX;
  uint8_t* Allocate(size_t size) override {
    return size == refusedSize ? nullptr : updater::HeapAllocator().Allocate(size);
  }
  void Free(uint8_t* block) override { updater::HeapAllocator().Free(block); }
};

struct Arrangement {
  FakeBootLoader fake;
  RefusingAllocator allocator;
  ImageShelf shelf;
  bool createFails = false;
};

std::vector<uint8_t> Bytes(size_t n) {
  return std::vector<uint8_t>(n, 0x5A);
}

class UpdateSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    qdev_test::SetTimeScale(1000);  // a PLD restart's six seconds pass in a few milliseconds
#endif
    // The child of a death test may be a fresh start of this program (always so on Windows), so
    // the file names come from the test's name alone, in a folder of this build's own.
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    const std::string base = OutputFolder() + name + ".";
    outPath_ = base + "out";
    logPath_ = base + "log";
    setup_.shelf.images = {{images::kR4690A_APPL, Bytes(300)},
                           {images::kR4690B_APPL, Bytes(400)},
                           {images::kR4690C_APPL, Bytes(200)},
                           {images::kR4690CC_PLD, Bytes(1000)},
                           {images::kR4690CI_PLD, Bytes(1100)}};
    gShelf = &setup_.shelf;
  }
  void TearDown() override {
    std::remove(outPath_.c_str());
    std::remove(logPath_.c_str());
  }

  static std::string OutputFolder() {
#ifdef _WIN32
    return ::testing::TempDir();
#else
    return R4690_TEST_OUTPUT_DIR "/";
#endif
  }

  // Runs the whole update in a child process and collects its console and the fake's log.
  void Run(int expectedExit) {
    EXPECT_EXIT(Child(), ::testing::ExitedWithCode(expectedExit), "");
    transcript_ = ReadFile(outPath_);
    calls_ = ReadFile(logPath_);
  }

  void Child() {
    FILE* out = std::fopen(outPath_.c_str(), "wb");
    setup_.fake.log = std::fopen(logPath_.c_str(), "wb");
    updater::UpdateDependencies deps;
    deps.createInstance = [this]() -> IR4690_BOOT_LOADER* {
      return setup_.createFails ? nullptr : &setup_.fake;
    };
    deps.out = out;
    deps.allocator = &setup_.allocator;
    deps.lookupImage = ShelfLookup;
    updater::RunUpdate(deps);
  }

  Arrangement setup_;
  std::string outPath_, logPath_, transcript_, calls_;
};

TEST_F(UpdateSequenceTest, WritesBothImagesAndRestartsThePld) {
  SetFieldText(setup_.fake.firmware.Version, "3.1");
  setup_.fake.pldVersion = "3.0.6c";
  Run(0);
  EXPECT_EQ(transcript_, std::string(kBanner) + kIdentified +
                             "\n"
                             "-------------------------------------------------------------------\n"
                             "  Module Info:\n"
                             "   # MCU Name:           R46-90\n"
                             "   # SerialNumber:       SN-000123\n"
                             "   # Revision:           C\n"
                             "  MCU Firmware Info:\n"
                             "   # MCU Name:           AVR ATmega162\n"
                             "   # Firmware Version:   3.1\n"
                             "   # Created:            Nov 12 2020\n"
                             "  MCU BootLoader Info:\n"
                             "   # MCU Name:           AVR ATmega162\n"
                             "   # BootLoader Version: 3.1\n"
                             "   # Created:            Oct 01 2019\n"
                             "  PLD Firmware Info:\n"
                             "   # PLD Name:           ALTERA Cyclone IV EP4CE6E22\n"
                             "   # Firmware Version:   3.0.6c\n"
                             "   # Created:            Nov 12 2020\n"
                             "-------------------------------------------------------------------\n"
                             "\n"
                             " MCU Firmware Flashing --> OK\n"
                             " PLD Firmware Flashing --> OK\n"
                             " Start Reload PLD --> OK\n" +
                             kSpinner + "\n Verify PLD --> OK\n\n" + kReleasedOk + kSuccess);
  EXPECT_EQ(calls_,
            "OpenQDevice(0)\n"
            "GetModuleName\n"
            "GetUsbSpeed\n"
            "GET_MODULE_DESCRIPTION\n"
            "RunMcuApplication(0x83000000,1)\n"
            "RunMcuApplication(0x83003C00,0)\n"
            "GET_FIRMWARE_DESCRIPTION\n"
            "GET_BOOT_LOADER_DESCRIPTION\n"
            "GET_PLD_INFO\n"
            "GetArray(0x8C000000,1)\n"
            "PutArray(0x83000000,200)\n"
            "PutArray(0x90000000,1256,valid)\n"
            "StartReloadPld\n"
            "VerifyPld\n"
            "ReleaseInstance\n");
}

// Full text fields have no terminator: each must print exactly its width and nothing of the
// field after it.
TEST_F(UpdateSequenceTest, SummaryBoundsFullFieldsByTheirWidth) {
  FakeBootLoader& f = setup_.fake;
  SetFieldText(f.module.Name, "R46-90 MODULE 16");
  SetFieldText(f.module.SerialNumber, "SERIAL-0123456789-0123456789-0123456");
  f.module.Revision = 'B';
  SetFieldText(f.firmware.McuName, "AVR ATmega162 25 chars xx");
  SetFieldText(f.firmware.Version, "3.20000000");
  SetFieldText(f.firmware.Created, "Nov 12 2020 14");
  SetFieldText(f.bootLoader.McuName, "AVR ATmega162 20 chr");
  SetFieldText(f.bootLoader.Version, "3.10000000");
  SetFieldText(f.bootLoader.Created, "Created text of the boot loader, 49 characters..");
  f.usbSpeed = 0;
  f.pldVersion = "3.0.7cxxxx";
  Run(0);
  EXPECT_EQ(transcript_, std::string(kBanner) +
                             " CreateInstance() --> OK\n"
                             " OpenQDevice(0) --> OK\n"
                             " GetModuleName() --> OK\n"
                             "   The module is 'R46-90'\n"
                             " GetUsbSpeed() --> OK\n"
                             "   USB Speed is FULL (12 Mbit/s)\n"
                             " GET_MODULE_DESCRIPTION() --> OK\n"
                             " GET_FIRMWARE_DESCRIPTION() --> OK\n"
                             " GET_BOOT_LOADER_DESCRIPTION() --> OK\n"
                             "\n"
                             "-------------------------------------------------------------------\n"
                             "  Module Info:\n"
                             "   # MCU Name:           R46-90 MODULE 16\n"
                             "   # SerialNumber:       SERIAL-0123456789-0123456789-0123456\n"
                             "   # Revision:           B\n"
                             "  MCU Firmware Info:\n"
                             "   # MCU Name:           AVR ATmega162 25 chars xx\n"
                             "   # Firmware Version:   3.20000000\n"
                             "   # Created:            Nov 12 2020 14\n"
                             "  MCU BootLoader Info:\n"
                             "   # MCU Name:           AVR ATmega162 20 chr\n"
                             "   # BootLoader Version: 3.10000000\n"
                             "   # Created:            Created text of the boot loader, 49 "
                             "characters..\n"
                             "  PLD Firmware Info:\n"
                             "   # PLD Name:           ALTERA Cyclone IV EP4CE6E22\n"
                             "   # Firmware Version:   3.0.7cxxxx\n"
                             "   # Created:            Nov 12 2020\n"
                             "-------------------------------------------------------------------\n"
                             "\n\n" +
                             kReleasedOk + kSuccess);
}

TEST_F(UpdateSequenceTest, NoInterfaceObjectMeansNoReleaseLine) {
  setup_.createFails = true;
  Run(kFailed);
  EXPECT_EQ(transcript_, std::string(kBanner) + "\n CreateInstance() --> Bad\n");
  EXPECT_EQ(calls_, "");
}

TEST_F(UpdateSequenceTest, FailingReleaseStillEndsInSuccess) {
  setup_.fake.releaseResult = false;
  Run(0);
  const std::string tail = std::string("-------\n\n\n ReleaseDevice() --> Bad\n\n") + kSuccess;
  ASSERT_GE(transcript_.size(), tail.size());
  EXPECT_EQ(transcript_.substr(transcript_.size() - tail.size()), tail);
}

TEST_F(UpdateSequenceTest, ModuleInSlotFiveIsFoundAfterFiveSilentFailures) {
  setup_.fake.answeringSlot = 5;
  Run(0);
  EXPECT_NE(transcript_.find(" CreateInstance() --> OK\n OpenQDevice(5) --> OK\n GetModuleName"),
            std::string::npos);
  EXPECT_EQ(calls_.rfind("OpenQDevice(0) -> false\nOpenQDevice(1) -> false\n"
                         "OpenQDevice(2) -> false\nOpenQDevice(3) -> false\n"
                         "OpenQDevice(4) -> false\nOpenQDevice(5)\nGetModuleName\n",
                         0),
            0u)
      << calls_;
}

// A failing run: the text printed just before the release line, the failure message, and a
// request that must (or must not) have reached the module.
struct FailureCase {
  const char* name;
  std::function<void(Arrangement&)> arrange;
  std::string before;   // the end of what was printed before the release line
  std::string message;  // printed last
  std::string seen;     // a line of the fake's log that must be there ("" for none)
  std::string unseen;   // a line of the fake's log that must not be there ("" for none)
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

void Fail(Arrangement& s, const char* call) {
  s.fake.failing.insert(call);
}
void NeedMcu(Arrangement& s) {
  SetFieldText(s.fake.firmware.Version, "3.1");
}
void NeedPld(Arrangement& s) {
  s.fake.pldVersion = "3.0.6c";
}
void NeedBoth(Arrangement& s) {
  NeedMcu(s);
  NeedPld(s);
}

const std::string kSummaryEnd =
    "-------------------------------------------------------------------\n\n";

const FailureCase kFailures[] = {
    {"NameInOtherCase", [](Arrangement& s) { s.fake.modelName = "r46-90"; },
     " GetModuleName() --> OK\n", " The module is not 'R46-90'\n", "", "GetUsbSpeed"},
    {"NameWithSeventhCharacter", [](Arrangement& s) { s.fake.modelName = "R46-900"; },
     " GetModuleName() --> OK\n", " The module is not 'R46-90'\n", "", ""},
    {"PldVersionUnparsable", [](Arrangement& s) { s.fake.pldVersion = "3.0"; },
     " GET_BOOT_LOADER_DESCRIPTION() --> OK\n", " GetPldVersionNumber --> Bad\n", "",
     "GetArray(0x8C000000,1)"},
    {"ModuleGradeCheckedBeforePldGrade",
     [](Arrangement& s) {
       s.fake.grade = 255;
       s.fake.pldVersion = "3.0.7";
     },
     " GET_BOOT_LOADER_DESCRIPTION() --> OK\n", " ModuleTemperatureGrade --> Bad\n", "", ""},
    {"NoRestartWithoutValidContainer",
     [](Arrangement& s) {
       s.fake.pldConfigured = false;
       s.fake.bootFlashValid = false;
       s.fake.grade = 2;
     },
     " GET_BOOT_LOADER_DESCRIPTION() --> OK\n", " ModuleTemperatureGrade --> Bad\n",
     "GetArray(0x90000000,256)", "StartReloadPld"},
    {"PldVersionUnparsableAfterRestart",
     [](Arrangement& s) {
       s.fake.pldConfigured = false;
       s.fake.pldVersion = "3";
     },
     "\n Verify PLD --> OK\n", " GetPldVersionNumber --> Bad\n", "", ""},
    {"PldWriteAfterMcuWrite",
     [](Arrangement& s) {
       NeedBoth(s);
       Fail(s, "PutArray(0x90000000,1256,valid)");
     },
     kSummaryEnd + " MCU Firmware Flashing --> OK\n", " PutArray() --> Bad\n",
     "PutArray(0x83000000,200)", "StartReloadPld"},
    {"EmptyMcuImage",
     [](Arrangement& s) {
       NeedMcu(s);
       s.shelf.images[images::kR4690C_APPL].clear();
     },
     kSummaryEnd, " PutArray() --> Bad\n", "PutArray(0x83000000,0) -> false", ""},
    {"McuBufferAllocation",
     [](Arrangement& s) {
       NeedMcu(s);
       s.allocator.refusedSize = 200;
     },
     kSummaryEnd, " Can't allocate    200 bytes!!!\n", "", "PutArray(0x83000000,200)"},
    {"PldContainerAllocation",
     [](Arrangement& s) {
       NeedBoth(s);
       s.allocator.refusedSize = 1256;
     },
     kSummaryEnd + " MCU Firmware Flashing --> OK\n", " Can't allocate   1256 bytes!!!\n",
     "PutArray(0x83000000,200)", ""},
    {"AllocationCountWiderThanItsField",
     [](Arrangement& s) {
       NeedPld(s);
       s.shelf.images[images::kR4690CC_PLD] = Bytes(999744);
       s.allocator.refusedSize = 1000000;
     },
     kSummaryEnd, " Can't allocate 1000000 bytes!!!\n", "", ""},
    {"McuImageMissing",
     [](Arrangement& s) {
       NeedMcu(s);
       s.shelf.images.erase(images::kR4690C_APPL);
     },
     kSummaryEnd, " FindResource() --> Bad\n", "", "PutArray(0x83000000,200)"},
    {"McuImageNotLoadable",
     [](Arrangement& s) {
       NeedMcu(s);
       s.shelf.failingName = images::kR4690C_APPL;
       s.shelf.failingStep = images::LookupStep::kLoadResource;
     },
     kSummaryEnd, " LoadResource() --> Bad\n", "", ""},
    {"McuImageNotLockable",
     [](Arrangement& s) {
       NeedMcu(s);
       s.shelf.failingName = images::kR4690C_APPL;
       s.shelf.failingStep = images::LookupStep::kLockResource;
     },
     kSummaryEnd, " LockResource() --> Bad\n", "", ""},
    {"PldImageMissingAfterMcuWrite",
     [](Arrangement& s) {
       NeedBoth(s);
       s.shelf.images.erase(images::kR4690CC_PLD);
     },
     kSummaryEnd + " MCU Firmware Flashing --> OK\n", " FindResource() --> Bad\n",
     "PutArray(0x83000000,200)", ""},
};

class UpdateFailureTest : public UpdateSequenceTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateFailureTest, EndsWithReleaseLineAndItsMessage) {
  const FailureCase& c = GetParam();
  c.arrange(setup_);
  Run(kFailed);
  const std::string tail = c.before + kReleasedOk + c.message;
  ASSERT_GE(transcript_.size(), tail.size()) << transcript_;
  EXPECT_EQ(transcript_.substr(transcript_.size() - tail.size()), tail) << transcript_;
  EXPECT_EQ(transcript_.find(c.message), transcript_.size() - c.message.size());
  EXPECT_EQ(calls_.substr(calls_.rfind('\n', calls_.size() - 2) + 1), "ReleaseInstance\n");
  if (!c.seen.empty()) {
    EXPECT_NE(calls_.find(c.seen + "\n"), std::string::npos) << calls_;
  }
  if (!c.unseen.empty()) {
    EXPECT_EQ(calls_.find(c.unseen), std::string::npos) << calls_;
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, UpdateFailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
