#include "platform/ConsentDialog.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <future>
#include <memory>

#include "support/MainQueueThread.h"
#include "support/ScriptedDialog.h"
#include "support/Timing.h"

namespace wren::platform {
namespace {

using namespace std::chrono_literals;
using testing::MainQueueThread;
using testing::ScriptedDialog;

const ConsentQuestion kQuestion{"Wren", "你的助理要查找、管理你的联系人 <b>& \"quotes\""};

// The answer the dialog gives, waited for (under the scaled bound of `within`).
std::optional<ConsentAnswer> answerOf(const ConsentDialogs& dialogs, std::chrono::milliseconds deadline,
                                      std::chrono::milliseconds within = 5s) {
  auto answered = std::make_shared<std::promise<ConsentAnswer>>();
  std::future<ConsentAnswer> answer = answered->get_future();
  if (!dialogs.ask(kQuestion, deadline, [answered](ConsentAnswer given) { answered->set_value(given); }))
    return std::nullopt;
  if (answer.wait_for(testing::scaledBound(within)) != std::future_status::ready) {
    ADD_FAILURE() << "no answer in time";
    return std::nullopt;
  }
  return answer.get();
}

TEST(ConsentDialog, TurnsEachWayTheProgramEndsIntoAnAnswer) {
  MainQueueThread mainThread;
  struct Case {
    const char* script;
    ConsentAnswer answer;
  };
  const Case cases[] = {
      {"exit 0", ConsentAnswer::Allowed},
      {"exit 1", ConsentAnswer::Refused},
      // zenity's own failures and its timeout are no answer of the person's.
      {"exit 5", ConsentAnswer::NoAnswer},
      {"exit 255", ConsentAnswer::NoAnswer},
      {"kill -SEGV $$", ConsentAnswer::NoAnswer},
      {"kill -KILL $$", ConsentAnswer::NoAnswer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    ScriptedDialog dialog(c.script);
    EXPECT_EQ(answerOf(ConsentDialogs(dialog.environment()), 10s), c.answer);
    EXPECT_EQ(dialog.runs().size(), 1u);
  }
}

TEST(ConsentDialog, PassesTheQuestionAsPlainTextArguments) {
  MainQueueThread mainThread;
  {
    ScriptedDialog zenity("exit 0");
    ASSERT_EQ(answerOf(ConsentDialogs(zenity.environment()), 10s), ConsentAnswer::Allowed);
    ASSERT_EQ(zenity.runs().size(), 1u);
    EXPECT_EQ(zenity.runs()[0], (std::vector<std::string>{"--question", "--no-markup", "--title=Wren",
                                                          "--text=" + kQuestion.text}));
  }
  {
    ScriptedDialog kdialog("exit 1", "kdialog");
    ASSERT_EQ(answerOf(ConsentDialogs(kdialog.environment()), 10s), ConsentAnswer::Refused);
    ASSERT_EQ(kdialog.runs().size(), 1u);
    EXPECT_EQ(kdialog.runs()[0], (std::vector<std::string>{"--title", "Wren", "--yesno", kQuestion.text}));
  }
}

TEST(ConsentDialog, ShowsNothingWithoutADisplayOrAProgram) {
  MainQueueThread mainThread;
  ScriptedDialog dialog("exit 0");
  bool called = false;
  auto note = [&called](ConsentAnswer) { called = true; };
  EXPECT_FALSE(ConsentDialogs(dialog.environment(false)).ask(kQuestion, 10s, note));
  EXPECT_FALSE(ConsentDialogs([] { return DialogEnvironment{"/nonexistent-wren-bin", true}; }).ask(kQuestion, 10s, note));
  EXPECT_FALSE(ConsentDialogs([] { return DialogEnvironment{"", true}; }).ask(kQuestion, 10s, note));
  EXPECT_TRUE(dialog.runs().empty());
  EXPECT_FALSE(called);
}

TEST(ConsentDialog, KillsADialogStillOpenAtTheDeadline) {
  MainQueueThread mainThread;
  ScriptedDialog dialog("exec sleep 30");
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(answerOf(ConsentDialogs(dialog.environment()), 100ms), ConsentAnswer::NoAnswer);
  EXPECT_LT(std::chrono::steady_clock::now() - started, testing::scaledBound(2s));
  ASSERT_EQ(dialog.pids().size(), 1u);
  pid_t pid = dialog.pids()[0];
  // Killed and reaped: the number names no process any more (or, rarely, a new one).
  // Killed and reaped: the number names no process any more.
  EXPECT_TRUE(testing::eventually([pid] { return kill(pid, 0) != 0; }));
}

TEST(ConsentDialog, AnswersOnceWhenTheAnswerRacesTheDeadline) {
  MainQueueThread mainThread;
  // The program answers about when the deadline passes: whichever wins, there is exactly
  // one answer, and a late exit or a late deadline adds none.
  ScriptedDialog dialog("sleep 0.05; exit 0");
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    auto calls = std::make_shared<std::atomic<int>>(0);
    std::promise<ConsentAnswer> first;
    ASSERT_TRUE(ConsentDialogs(dialog.environment()).ask(kQuestion, 50ms, [calls, &first](ConsentAnswer answer) {
      if (calls->fetch_add(1) == 0) first.set_value(answer);
    }));
    ConsentAnswer answer = first.get_future().get();
    EXPECT_TRUE(answer == ConsentAnswer::Allowed || answer == ConsentAnswer::NoAnswer);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(calls->load(), 1);
  }
}

TEST(FindProgram, SearchesOnlyAbsoluteFoldersInOrder) {
  ScriptedDialog first("exit 0");
  ScriptedDialog second("exit 1");
  EXPECT_EQ(findProgram("zenity", first.searchPath() + ":" + second.searchPath()),
            std::filesystem::path(first.searchPath()) / "zenity");
  EXPECT_EQ(findProgram("zenity", "/nonexistent-wren:" + second.searchPath()),
            std::filesystem::path(second.searchPath()) / "zenity");
  // The current folder, written as an empty entry or "." or a relative name, is never searched.
  std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(second.searchPath());
  EXPECT_EQ(findProgram("zenity", ":.:bin"), std::nullopt);
  std::filesystem::current_path(here);
  EXPECT_EQ(findProgram("kdialog", first.searchPath()), std::nullopt);
}

}  // namespace
}  // namespace wren::platform
