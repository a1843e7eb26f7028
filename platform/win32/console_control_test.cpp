// The console control of the Windows build on a real console. Under Wine a process has a
// console only when Wine runs on a terminal, so scripts/test-windows runs this executable under
// script(1); without a console every test fails with that hint. Ctrl-C is raised with
// GenerateConsoleCtrlEvent, which reaches every process on the console: the test's own process
// survives it through a handler of its own, which the child of a death test drops first, so that
// the child meets Ctrl-C as the utility would.
#include "platform/console_control.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/win32.h"

namespace {

const int kCtrlCExit = static_cast<int>(STATUS_CONTROL_C_EXIT);
constexpr int kNotEnded = 7;  // a death test's child that Ctrl-C did not end

BOOL WINAPI Survive(DWORD) {
  return TRUE;
}

// In a death test's child: Ctrl-C takes its ordinary course from here on.
void MeetCtrlCAsTheUtility() {
  SetConsoleCtrlHandler(Survive, FALSE);
  SetConsoleCtrlHandler(nullptr, FALSE);
}

// Ctrl-C for every process on the console; its handlers run on threads of their own.
void PressCtrlC() {
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  Sleep(1000);
}

class ConsoleControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD processes[4];
    ASSERT_GE(GetConsoleProcessList(processes, 4), 1u)
        << "no console: run this under a terminal (scripts/test-windows uses script(1))";
    // Installed once and kept to the end of the program: the Ctrl-C that a child raises reaches
    // this process too, and on a busy machine it may be handled only after that test has ended.
    static const bool installed = SetConsoleCtrlHandler(Survive, TRUE) != FALSE;
    ASSERT_TRUE(installed);
  }
};

// Kept back through the nested holds, said at once, and ended by the program when it chooses.
TEST_F(ConsoleControlTest, CtrlCDuringAHoldIsKeptBackUntilTheProgramEndsItself) {
  EXPECT_EXIT(
      {
        MeetCtrlCAsTheUtility();
        console_control::SetHoldNotice("kept back\n");
        {
          const console_control::InterruptHold outer;
          {
            const console_control::InterruptHold inner;
            PressCtrlC();
          }
          std::fputs("still writing\n", stderr);
        }
        if (console_control::StopRequested()) console_control::EndAsRequested();
        std::exit(kNotEnded);
      },
      ::testing::ExitedWithCode(kCtrlCExit), "kept back\nstill writing");
}

TEST_F(ConsoleControlTest, CtrlCOutsideAHoldEndsTheProcessAtOnce) {
  EXPECT_EXIT(
      {
        MeetCtrlCAsTheUtility();
        { const console_control::InterruptHold hold; }  // its handler stays, and now declines
        PressCtrlC();
        std::exit(kNotEnded);
      },
      // The default handling's exit code: STATUS_CONTROL_C_EXIT on Windows, 0 under Wine 8.
      [](int code) { return code != kNotEnded; }, "");
}

TEST_F(ConsoleControlTest, AloneOnlyWithConsoleInputAndOutputAndNoOtherProcess) {
  EXPECT_TRUE(console_control::AloneOnConsole());

  // Output into a file, as from a script.
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE file = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  const bool aloneWithFile = console_control::AloneOnConsole();
  SetStdHandle(STD_OUTPUT_HANDLE, console);
  CloseHandle(file);
  EXPECT_FALSE(aloneWithFile);

  // Another process on the console, as a command prompt is: the death test's parent.
  EXPECT_EXIT(std::exit(console_control::AloneOnConsole() ? 1 : 0), ::testing::ExitedWithCode(0),
              "");
}

}  // namespace
