#pragma once

// A stand-in for the desktop's consent dialog program: a small shell script named zenity
// (or kdialog) in a temporary folder that a test puts first on PATH. It writes the
// arguments of each run to a file of its own, then does what the test scripted (answer yes
// with `exit 0`, no with `exit 1`, hang with `exec sleep 30`, crash with `kill -SEGV $$`).
//
//   ScriptedDialog dialog("exit 0");
//   platform::ConsentDialogs dialogs(dialog.environment());      // in-process
//   helper.setEnv("PATH", dialog.searchPath() + ":/usr/bin:/bin");  // or for the built binary
//   ...
//   EXPECT_EQ(dialog.runs().size(), 1u);
//   EXPECT_EQ(dialog.runs()[0][2], "--title=Wren");

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ConsentDialog.h"
#include "support/TemporaryFolder.h"

namespace wren::testing {

class ScriptedDialog {
 public:
  explicit ScriptedDialog(const std::string& body, const std::string& program = "zenity")
      : folder_("wren-dialog") {
    std::filesystem::create_directories(bin());
    std::filesystem::create_directories(runsFolder());
    std::filesystem::path script = folder_.write("bin/" + program,
                                                 "#!/bin/sh\n"
                                                 "printf '%s\\n' \"$@\" > '" + runsFolder().string() + "'/run.$$\n" +
                                                 body + "\n");
    chmod(script.c_str(), 0755);
  }

  std::string searchPath() const { return bin().string(); }
  // A display that is there, and this folder as the only place to look for programs.
  platform::ConsentDialogs::Environment environment(bool hasDisplay = true) const {
    return [path = searchPath(), hasDisplay] { return platform::DialogEnvironment{path, hasDisplay}; };
  }

  // The arguments of every run so far (the program's name not included), oldest first by
  // process number.
  std::vector<std::vector<std::string>> runs() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(runsFolder())) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<std::string>> result;
    for (const auto& file : files) {
      std::ifstream in(file);
      std::vector<std::string> arguments;
      for (std::string line; std::getline(in, line);) arguments.push_back(line);
      result.push_back(arguments);
    }
    return result;
  }

  // The process numbers of the runs so far.
  std::vector<int> pids() const {
    std::vector<int> result;
    for (const auto& entry : std::filesystem::directory_iterator(runsFolder()))
      result.push_back(std::stoi(entry.path().extension().string().substr(1)));
    return result;
  }

 private:
  std::filesystem::path bin() const { return folder_.path() / "bin"; }
  std::filesystem::path runsFolder() const { return folder_.path() / "runs"; }

  TemporaryFolder folder_;
};

}  // namespace wren::testing
