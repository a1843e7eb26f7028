// The platform's smaller facilities on systems without Windows: events, waits, the scaled clock,
// Sleep and critical sections; handles that are not live, the per-thread last error, the fault
// hooks and the request ids of a device handle; wsprintfA and LoadStringA; stop signals; the
// append-only log; the case-insensitive lookup of device names; and the child-process facility.
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/append_log.h"
#include "platform/posix/device_names.h"
#include "platform/posix/request_ids.h"
#include "platform/resource_table.h"
#include "platform/stop_signals.h"
#include "platform/testing/child_process.h"
#include "platform/testing/posix/test_endpoint.h"
#include "platform/testing/test_facilities.h"
#include "platform/win32.h"

namespace {

const qdev_posix::EmbeddedString kStrings[] = {
    {7, "seven"}, {8, ""}, {1001, "one thousand and one"}};

}  // namespace

extern "C" const qdev_posix::EmbeddedStringTable r4690_embedded_strings = {kStrings, 3};

namespace {

namespace fs = std::filesystem;
using qdev_test::TempDeviceDir;

TEST(EventTest, FollowsEachScript) {
  const struct {
    bool manualReset, initialState;
    const char* script;  // S: SetEvent, R: ResetEvent, 0: signalled wait, T: timed-out wait
  } cases[] = {
      {false, false, "TS0T"},  {false, true, "0T"},    {false, false, "SS0T"},
      {true, false, "S000RT"}, {true, true, "00RTS0"}, {false, true, "RTS0"},
  };
  for (const auto& c : cases) {
    HANDLE event = CreateEventA(nullptr, c.manualReset, c.initialState, nullptr);
    ASSERT_NE(event, nullptr);
    for (const char* op = c.script; *op != '\0'; ++op) {
      SCOPED_TRACE(std::string("at ") + *op + " of " + c.script);
      if (*op == 'S' || *op == 'R') {
        EXPECT_TRUE(*op == 'S' ? SetEvent(event) : ResetEvent(event));
      } else {
        EXPECT_EQ(WaitForSingleObject(event, 1), *op == '0' ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
      }
    }
    EXPECT_TRUE(CloseHandle(event));
  }
}

// Sleeps follow the time scale and timed waits the wait scale, each on its own: at 100 a nominal
// 5 s lasts 50 ms for real, at 1 it lasts in full (300 ms are enough to tell the two apart). The
// platform clock runs with the time scale, and the return to scale 1 does not turn it back.
TEST(TimeScaleTest, SleepsFollowTheTimeScaleAndWaitsTheWaitScale) {
  const struct {
    bool sleep;
    uint32_t timeScale, waitScale;
    bool shortened;  // lasts 1/100 of its nominal time
  } cases[] = {
      {true, 100, 1, true},    {true, 1, 100, false},   // Sleep
      {false, 1, 100, true},   {false, 100, 1, false},  // WaitForSingleObject
      {false, 100, 100, true},
  };
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sleep << " at " << c.timeScale << "/" << c.waitScale);
    qdev_test::SetTimeScale(c.timeScale);
    qdev_test::SetWaitScale(c.waitScale);
    const uint32_t nominal = c.shortened ? 5000 : 300;
    const uint64_t ticks = GetTickCount64();
    const auto real = std::chrono::steady_clock::now();
    if (c.sleep) {
      Sleep(nominal);
    } else {
      EXPECT_EQ(WaitForSingleObject(event, nominal), WAIT_TIMEOUT);
    }
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - real;
    EXPECT_GE(ms.count(), (c.shortened ? nominal / 100.0 : nominal) - 1);
    // A shortened one ends long before its nominal time, however busy the machine.
    EXPECT_TRUE(!c.shortened || ms.count() < nominal / 2.0) << ms.count();
    // The clock measures a sleep, and a wait at equal scales, in full.
    const uint64_t measured = GetTickCount64() - ticks;
    EXPECT_TRUE((!c.sleep && c.timeScale != c.waitScale) || measured >= nominal - 1u) << measured;
  }
  EXPECT_TRUE(CloseHandle(event));
  qdev_test::SetTimeScale(100);
  const uint64_t fast = GetTickCount64();
  qdev_test::SetTimeScale(1);
  qdev_test::SetWaitScale(1);
  EXPECT_GE(GetTickCount64(), fast);
}

TEST(CriticalSectionTest, IsReentrantAndExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);  // the owner enters again without blocking
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&cs);
    entered = true;
    LeaveCriticalSection(&cs);
  });
  LeaveCriticalSection(&cs);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(entered) << "entered while still held once";
  LeaveCriticalSection(&cs);
  other.join();
  EXPECT_TRUE(entered);
  DeleteCriticalSection(&cs);
}

// Calls on handles that are not live fail cleanly (or, on the current process's pseudo-handle, do
// nothing, as on Windows).
TEST(HandleTest, CallsOnWhatIsNotALiveHandleFailAsOnWindows) {
  HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // live, but not a device
  for (HANDLE h :
       {HANDLE{nullptr}, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x4321), closed, event}) {
    // INVALID_HANDLE_VALUE is the current process, which a close or a cancel leaves alone.
    const bool self = h == INVALID_HANDLE_VALUE;
    // The arguments, and so the call, are evaluated before GetLastError is read.
    auto check = [h](DWORD result, DWORD expected, DWORD error, const char* call) {
      EXPECT_EQ(result, expected) << call << " on " << h;
      EXPECT_EQ(GetLastError(), error) << call << " on " << h;
      SetLastError(0);
    };
    const DWORD invalid = ERROR_INVALID_HANDLE, selfError = self ? ERROR_SUCCESS : invalid;
    uint8_t out[4];
    DWORD count = 0;
    SetLastError(0);
    check(DeviceIoControl(h, 0x220012, nullptr, 0, out, 4, nullptr, nullptr), FALSE, invalid,
          "DeviceIoControl");
    // The result of a request comes from its record alone, whatever the handle.
    OVERLAPPED done{}, pending{};
    done.InternalHigh = 7;
    pending.Internal = STATUS_PENDING;
    check(GetOverlappedResult(h, &done, &count, FALSE), TRUE, 0, "GetOverlappedResult");
    EXPECT_EQ(count, 7u);
    check(GetOverlappedResult(h, &pending, &count, FALSE), FALSE, ERROR_IO_INCOMPLETE, "pending");
    if (h == event) continue;
    check(CancelIo(h), self, selfError, "CancelIo");
    check(SetEvent(h), FALSE, invalid, "SetEvent");
    check(ResetEvent(h), FALSE, invalid, "ResetEvent");
    check(WaitForSingleObject(h, 0), self ? WAIT_TIMEOUT : WAIT_FAILED, selfError, "Wait");
    check(CloseHandle(h), self, selfError, "CloseHandle");
  }
  EXPECT_TRUE(CloseHandle(event));
}

TEST(HandleTest, LastErrorBelongsToEachThread) {
  SetLastError(ERROR_GEN_FAILURE);
  DWORD seen = 1;
  std::thread([&] {
    seen = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
  }).join();
  EXPECT_EQ(seen, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

// Each hook fails the n-th call after it is armed, and that call only; a failed close still
// releases the object. (A hook armed for the very next call is modlib's qusbbase_test's.)
TEST(FaultHookTest, TheNthCallFailsAndAFailedCloseStillReleases) {
  qdev_test::FailNthCreateEvent(3);
  for (uint32_t i = 1; i <= 4; ++i) {
    SetLastError(0);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(event == nullptr, i == 3) << "call " << i;
    EXPECT_EQ(GetLastError(), i == 3 ? ERROR_NOT_ENOUGH_MEMORY : 0u) << "call " << i;
    CloseHandle(event);
  }
  qdev_test::FailNthCloseHandle(3);
  for (uint32_t i = 1; i <= 4; ++i) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SetLastError(0);
    EXPECT_EQ(CloseHandle(event) == FALSE, i == 3) << "call " << i;
    EXPECT_EQ(GetLastError(), i == 3 ? ERROR_INVALID_HANDLE : 0u) << "call " << i;
    EXPECT_FALSE(SetEvent(event)) << "call " << i;  // released either way
  }
  qdev_test::ClearFaults();
}

// The request ids of a device handle are a bijective mix of a counter, so none repeats on one
// handle, and none follows from the one before (an endpoint that answers ahead of a request
// completes nothing). 2^18 ids: a mix that is no bijection would repeat one here almost surely.
TEST(RequestIdsTest, NoIdRepeatsOnOneHandle) {
  qdev_posix::RequestIds ids;
  std::vector<uint32_t> issued(1u << 18);
  for (uint32_t& id : issued) id = ids.Next();
  const auto firstIds = issued.begin() + 16;  // a counter's step would show at once
  EXPECT_EQ(std::adjacent_find(issued.begin(), firstIds,
                               [](uint32_t a, uint32_t b) { return b == a + 1; }),
            firstIds);
  std::sort(issued.begin(), issued.end());
  EXPECT_EQ(std::adjacent_find(issued.begin(), issued.end()), issued.end());
}

// wsprintfA as the device paths use it, and its 1024-byte bound with its zero.
TEST(WsprintfTest, FormatsDevicePathsAndStopsAt1024BytesWithItsZero) {
  char buffer[32];
  EXPECT_EQ(wsprintfA(buffer, "\\\\.\\QDevUsb%d", 65535), 16);
  EXPECT_STREQ(buffer, "\\\\.\\QDevUsb65535");
  std::vector<char> big(2048, 'z');
  EXPECT_EQ(wsprintfA(big.data(), "%s", std::string(1500, 'a').c_str()), 1023);
  EXPECT_EQ(std::string(big.data()), std::string(1023, 'a'));
  EXPECT_EQ(big[1024], 'z');  // nothing beyond the bound is touched
}

// LoadStringA over this executable's own string table, and the module handles that it is asked
// with: no name gives the executable, an address the module that holds it.
TEST(LoadStringTest, FindsThisModulesStringsOnly) {
  constexpr DWORD kFromAddress = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  HMODULE executable = nullptr, ofStrings = nullptr, library = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(0, nullptr, &executable));
  ASSERT_TRUE(GetModuleHandleExA(kFromAddress, reinterpret_cast<LPCSTR>(&kStrings), &ofStrings));
  EXPECT_EQ(ofStrings, executable);
  ASSERT_TRUE(GetModuleHandleExA(kFromAddress, reinterpret_cast<LPCSTR>(&std::strlen), &library));
  EXPECT_NE(library, executable);
  const struct {
    const char* label;
    HINSTANCE module;
    UINT id;
    int size, result;
    const char* text;  // what the buffer holds afterwards
    DWORD error;       // GetLastError afterwards
  } cases[] = {
      {"by handle", executable, 7, 64, 5, "seven", 0},
      {"null is the executable", nullptr, 1001, 64, 20, "one thousand and one", 0},
      {"the id's low word only", executable, 0x30007, 64, 5, "seven", 0},
      {"cut to the buffer", executable, 1001, 4, 3, "one", 0},
      {"room for the zero only", executable, 7, 1, 0, "", 0},
      {"empty is no string", executable, 8, 64, 0, "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"no such id", executable, 9, 64, 0, "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"another module", library, 7, 64, 0, "", ERROR_RESOURCE_DATA_NOT_FOUND},
  };
  for (const auto& c : cases) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadStringA(c.module, c.id, buffer, c.size), c.result) << c.label;
    EXPECT_STREQ(buffer, c.text) << c.label;
    EXPECT_EQ(GetLastError(), c.error) << c.label;
  }
  EXPECT_EQ(LoadStringA(executable, 7, nullptr, 64), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  HMODULE module = executable;
  EXPECT_FALSE(GetModuleHandleExA(kFromAddress, nullptr, &module));
  EXPECT_EQ(module, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_FALSE(GetModuleHandleExA(0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// A stop signal reaches the callback, and one that comes after the watcher has ended is held
// rather than ending the program.
TEST(StopSignalsTest, SignalReachesTheCallbackAndALateOneIsHeld) {
  std::atomic<int> received{0};
  {
    qdev::StopSignals signals([&received](int signal) { received = signal; });
    ASSERT_TRUE(signals.ok());
    ASSERT_EQ(kill(getpid(), SIGHUP), 0);  // to the process: the watcher reads it
    for (int i = 0; i < 1000 && received == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(received, SIGHUP);
  }
  ASSERT_EQ(raise(SIGTERM), 0);  // with the default action this would end the test program
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  const timespec none{0, 0};
  EXPECT_EQ(sigtimedwait(&term, nullptr, &none), SIGTERM);
  pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
}

// The append-only log: a line goes on after whatever whole lines the file holds, and a tail that a
// power cut left without its line feed goes first.
TEST(AppendLogTest, OneLineGoesAfterTheWholeLinesAloneAndAFolderIsRefused) {
  TempDeviceDir folder;
  const std::string path = folder.path() + "/record.jsonl";
  const std::string longCut(5000, 'x');  // longer than one block of the search for a line feed
  const struct {
    std::string before;  // "-": no file at all
    std::string after;
  } cases[] = {{"-", "new\n"},
               {"", "new\n"},
               {"a\n", "a\nnew\n"},
               {"a\nb\n{\"cut", "a\nb\nnew\n"},
               {"no line feed", "new\n"},
               {"a\n" + longCut, "a\nnew\n"},
               {longCut + "\n" + longCut, longCut + "\nnew\n"}};
  std::string error;
  for (const auto& c : cases) {
    fs::remove(path);
    if (c.before != "-") std::ofstream(path, std::ios::binary) << c.before;
    auto log = append_log::AppendLog::Open(path, &error);
    ASSERT_NE(log, nullptr) << error;
    ASSERT_TRUE(log->Append("new\n", &error)) << error;
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str(), c.after) << c.before.substr(0, 20);
  }
  EXPECT_EQ(append_log::AppendLog::Open(folder.path(), &error), nullptr);
  EXPECT_EQ(error, append_log::kNotAFile);
}

// The case-insensitive lookup of device names: what it finds follows the folder through every
// change (names that come, go, are renamed; the folder removed and made again; another folder),
// as a listing at the time of the call would, also when the folder had settled and its names were
// kept. That an open falls back on this lookup is device_io_test's (OpensFindTheDeviceAsOnWindows).
TEST(DeviceNamesTest, FollowsTheFolderThroughEveryChange) {
  TempDeviceDir dir, other;
  const std::string a = dir.path(), b = other.path();
  auto make = [](const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "";
  };
  for (int i = 0; i < 300; ++i) make(a + "/QDevUsb" + std::to_string(i));
  // The change: m makes `path` (and its folder), r removes it and all below, n renames it `to`.
  const struct {
    const char* step;
    char change;
    std::string path, to, folder, name;
    std::vector<std::string> found;
  } steps[] = {
      {"nothing like it", '-', "", "", a, "QDev5", {}},
      {"a name in another case", 'm', a + "/qdev5", "", a, "QDev5", {"qdev5"}},
      {"and one more", 'm', a + "/QDEV5", "", a, "QDev5", {"QDEV5", "qdev5"}},
      {"the exact name is not another", 'm', a + "/QDev5", "", a, "QDev5", {"QDEV5", "qdev5"}},
      {"one goes", 'r', a + "/qdev5", "", a, "QDev5", {"QDEV5"}},
      {"renamed away", 'n', a + "/QDEV5", a + "/QDev6", a, "qdev5", {"QDev5"}},
      {"renamed in", 'n', a + "/QDev6", a + "/QDEV5", a, "qdev5", {"QDEV5", "QDev5"}},
      {"another folder", 'm', b + "/qDev5", "", b, "QDev5", {"qDev5"}},
      {"back", '-', "", "", a, "QDevUSB299", {"QDevUsb299"}},
      {"the folder removed", 'r', a, "", a, "QDev5", {}},
      {"and made again", 'm', a + "/QDEV5", "", a, "QDev5", {"QDEV5"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    // The folder settles and a lookup keeps its names; then it changes.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    qdev_posix::NamesIgnoringCase(s.folder, s.name);
    if (s.change == 'm') make(s.path);
    if (s.change == 'r') fs::remove_all(s.path);
    if (s.change == 'n') fs::rename(s.path, s.to);
    EXPECT_EQ(qdev_posix::NamesIgnoringCase(s.folder, s.name), s.found);
  }
}

// The child-process facility: how a child ended (exit status, signal, the time limit, a program
// that cannot start). The redirected streams and the environment are the recovery suite's, whose
// runs of the utility read both.
TEST(ChildProcessTest, ReportsHowEachChildEnded) {
  using End = qdev_test::ChildResult::End;
  const struct {
    std::vector<std::string> argv;
    uint32_t limitMs;
    End end;
    int status;
  } cases[] = {
      {{"/bin/sh", "-c", "exit 3"}, 10000, End::kExited, 3},
      {{"/bin/sh", "-c", "kill -TERM $$"}, 10000, End::kSignalled, 15},
      {{"/bin/sleep", "10"}, 100, End::kTimedOut, 0},
      {{"/nonexistent/program"}, 10000, End::kNotStarted, ENOENT},
  };
  TempDeviceDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv.back());
    const qdev_test::ChildResult result =
        qdev_test::RunChild({c.argv, {}, dir.path() + "/out", dir.path() + "/err", c.limitMs});
    EXPECT_EQ(std::make_pair(result.end, result.status), std::make_pair(c.end, c.status));
    EXPECT_LT(result.elapsedMs, 5000u);
  }
}

}  // namespace
