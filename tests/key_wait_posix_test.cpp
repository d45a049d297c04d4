// The key wait, on a pseudo-terminal, the program's controlling terminal.
#include <gtest/gtest.h>

#include "tests/terminal_run_posix.h"

namespace {

// The wait follows the report, also "No Files Found". On the terminal a name's
// control characters (C0, DEL, C1 as UTF-8; not a space or U+00A0) show as '?'.
TEST(KeyWaitTest, MessagesComeFirstThenOneKeyEndsTheWait) {
  struct Case {
    const char* model;  // The model's name, without ".md3"; null for none.
    const char* shown;  // How the terminal shows it.
  };
  for (Case c :
       {Case{"a", "a"}, Case{nullptr, nullptr},
        Case{"a \x1b]0;PWNED\x07\x1b[2J\x7f\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0",
             "a ?]0;PWNED??[2J????\xc2\xa0"}}) {
    SCOPED_TRACE(c.shown != nullptr ? c.shown : "no models");
    TerminalRun run;
    run.RenameModel(c.model != nullptr ? std::string(c.model) + ".md3"
                                       : "a.txt");
    run.Start();
    const std::string shown =
        c.model == nullptr ? std::string("No Files Found\r\n")
                           : "File Found: " + std::string(c.shown) +
                                 ".md3\r\nWriting Tag File: " + c.shown +
                                 ".tag\r\nTag file created successfully\r\n";
    EXPECT_EQ(run.ReadOutputUntil(shown), shown);
    ASSERT_TRUE(run.WaitForKeyMode());
    SleepMs(100);
    EXPECT_TRUE(run.Running());
    run.Type("x");
    EXPECT_TRUE(run.EndsCleanly());
    // Nothing echoed, nothing left over.
    EXPECT_EQ(run.ReadOutputUntil("", 200), "");
    EXPECT_EQ(run.PendingInput(0), "");
  }
}

// Any key ends the wait, Escape and control keys too, one of several bytes
// consumed whole, even sent apart; later keys, and what follows 32 bytes after
// "ESC [", stay the shell's. Piped input is no key; one typed first is.
TEST(KeyWaitTest, AnyKeyEndsTheWaitConsumedWhole) {
  using Input = TerminalRun::Input;
  struct Case {
    const char* typed;  // '|' marks a pause shorter than a key's end.
    const char* left = "";
    Input input = Input::kNull;
    bool typed_first = false;  // Before the program starts.
  };
  // clang-format off
  const Case cases[] = {
      {"\x03"}, {"\x1a"}, {"\x13"}, {"\x1c"}, {"\r"}, {"\x1b"},
      {"q", "", Input::kPipe}, {"k", "", Input::kNull, true},
      {"\x1b[A"}, {"\x1bOP"}, {"\x1b[15~"}, {"\x1b[1;5C"}, {"\xc3\xa9"},
      {"\xe2\x82\xac"}, {"\xe0\xa4\x84"}, {"\xf0\x9f\x98\x80"}, {"\x1bx"},
      {"\x1b|[|A"}, {"\xf0\x9f|\x98|\x80"}, {"xab", "ab"}, {"\x1b[@ab", "ab"},
      {"\x1b[123456789012345678901234567890123A", "3A"}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.typed));
    TerminalRun run(TerminalRun::Output::kTerminal, c.input);
    if (c.typed_first) run.Type(c.typed);
    run.Start();
    ASSERT_TRUE(c.typed_first || run.WaitForKeyMode());
    if (!c.typed_first) run.TypeApart(c.typed);
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(run.PendingInput(strlen(c.left)), c.left);
  }
}

// Collected in a 4096-byte buffer, written when full and after the key: none
// before it for one model; with 85 more, 4096 of 6,532 bytes.
TEST(KeyWaitTest, PipedOutputIsWrittenIn4096ByteBlocksAndAfterTheKey) {
  for (int more : {0, 85}) {
    SCOPED_TRACE(more);
    TerminalRun run(TerminalRun::Output::kPipe);
    run.AddModels(more);
    run.Start();
    ASSERT_TRUE(run.WaitForKeyMode());
    const size_t before = more == 0 ? 0 : 4096;
    EXPECT_EQ(run.ReadOutputUntil("", 500).size(), before);
    run.Type(" ");
    const std::string last =
        "File Found: a.md3\nWriting Tag File: a.tag\n"
        "Tag file created successfully\n";
    const std::string rest = run.ReadOutputUntil(last);
    EXPECT_EQ(rest.size(), more * 76u + 72 - before);
    EXPECT_TRUE(run.EndsCleanly());
  }
}

// Whichever signal ends the program, in the wait or a conversion, the terminal
// keeps its mode. One ignored at start (nohup, a background job) stays ignored.
TEST(KeyWaitTest, EndingSignalsPutTheTerminalBackUnlessIgnored) {
  using Input = TerminalRun::Input;
  struct Case {
    const char* name;
    Input input;
    int signal;            // The one that ends the program.
    int then;              // If not 0, sent next, both while it is stopped.
    bool in_a_conversion;  // Rather than in the wait.
    bool ignored;          // At start: the program goes on.
  };
  // clang-format off
  const Case cases[] = {
      {"SIGTERM", Input::kNull, SIGTERM, 0, false, false},
      {"SIGHUP", Input::kNull, SIGHUP, 0, false, false},
      {"SIGINT", Input::kNull, SIGINT, 0, false, false},
      // The terminal the wait opens is then descriptor 0.
      {"SIGTERM, standard input closed", Input::kClosed, SIGTERM, 0, false, false},
      // Nothing to put back, nothing to touch.
      {"SIGINT in a conversion", Input::kTerminal, SIGINT, 0, true, false},
      // The first one's clean-up is not cut short by the second.
      {"SIGINT, then SIGTERM, while stopped", Input::kNull, SIGINT, SIGTERM, false, false},
      {"SIGINT ignored", Input::kNull, SIGINT, 0, false, true},
      {"SIGHUP ignored", Input::kNull, SIGHUP, 0, false, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TerminalRun run(TerminalRun::Output::kTerminal, c.input);
    if (c.ignored) run.IgnoreAtStart(c.signal);
    if (c.in_a_conversion) {
      ASSERT_TRUE(run.ConvertALargeModel());
    } else {
      run.Start();
      ASSERT_TRUE(run.WaitForKeyMode());
    }
    ASSERT_TRUE(c.then == 0 || run.Stop());
    kill(run.pid(), c.signal);
    if (c.then != 0) {
      kill(run.pid(), c.then);
      kill(run.pid(), SIGCONT);
    }
    if (c.ignored) {
      SleepMs(200);
      EXPECT_TRUE(run.Running());
      run.Type("x");
      EXPECT_TRUE(run.EndsCleanly());
      continue;
    }
    ASSERT_TRUE(run.WaitForExit());
    EXPECT_TRUE(WIFSIGNALED(run.status()));
    EXPECT_EQ(WTERMSIG(run.status()), c.signal);
    EXPECT_TRUE(run.ModeRestored());
  }
}

// A background job leaves the terminal alone: a line half typed at the prompt
// stays so, pending. Stopped in the wait and continued in the background, the
// program cannot read the terminal: it puts it back and ends.
TEST(KeyWaitTest, JobsInTheBackgroundLeaveTheTerminalAsItWas) {
  TerminalRun run;
  run.Type("ab");
  ASSERT_EQ(run.ReadOutputUntil("ab"), "ab");  // Echoed: in the terminal.
  run.Start(TerminalRun::Job::kBackground);
  EXPECT_TRUE(run.EndsCleanly());
  EXPECT_EQ(run.LinesReady(), 0);
  EXPECT_EQ(run.PendingInput(2), "ab");

  TerminalRun moved;
  moved.Start(TerminalRun::Job::kMovedToBackground);
  ASSERT_TRUE(moved.WaitForKeyMode());
  kill(moved.pid(), SIGUSR1);
  EXPECT_TRUE(moved.EndsCleanly());
}

}  // namespace
