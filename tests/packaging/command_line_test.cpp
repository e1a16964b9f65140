// The three programs' command lines: --help and --version answered on
// standard output with status 0 (the viewer without starting Qt: no
// display is needed), an unknown option refused on standard error with
// status 2; and the viewer started on a book that is not there says why
// on standard error, as its window does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "TestSupport.h"

using test::TempDir;

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CommandLines : public ::testing::Test {
 protected:
  Outcome Run(const std::string& command) {
    const std::string out = m_tmp / "stdout", err = m_tmp / "stderr";
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }
  TempDir m_tmp;
};

TEST_F(CommandLines, HelpVersionAndUnknownOptions) {
  // A platform that does not exist: Qt, if started, would abort.
  const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=none ";
  for (const char* program : {VELMORA, VELMORA_BOOK, VELMORA_THUMBNAILER}) {
    const std::string name = std::string(program).substr(std::string(program).rfind('/') + 1);
    const Outcome help = Run(noDisplay + program + " --help");
    EXPECT_EQ(help.status, 0) << name << help.err;
    EXPECT_EQ(help.out.rfind("Usage: " + name + " ", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "") << name;

    const Outcome version = Run(noDisplay + program + " --version");
    EXPECT_EQ(version.status, 0) << name << version.err;
    EXPECT_EQ(version.out.substr(0, version.out.find('\n')), name + " (Velmora) " VELMORA_VERSION);
    EXPECT_EQ(version.err, "") << name;

    const std::string tryHelp = "Try '" + name + " --help' for more information.\n";
    const struct {
      const char* arguments;
      std::string complaint;
    } refused[] = {
        {"--bogus some/book.cbz", "unrecognized option '--bogus'"},
        {"some/book.cbz -z", "invalid option -- 'z'"},
        // Refused where it stands, even with --help after it.
        {"--bogus --help", "unrecognized option '--bogus'"},
    };
    for (const auto& row : refused) {
      const Outcome run = Run(noDisplay + program + " " + row.arguments);
      EXPECT_EQ(run.status, 2) << name << " " << row.arguments;
      EXPECT_EQ(run.out, "") << name << " " << row.arguments;
      EXPECT_EQ(run.err, name + ": " + row.complaint + "\n" + tryHelp) << row.arguments;
    }
  }
}

TEST_F(CommandLines, TheViewerSaysWhyItsBookIsNotThere) {
  // From a folder of its own, so that its profile is the test's.
  ASSERT_EQ(std::system(("cp '" VELMORA "' '" VELMORA_RESOURCES "' '" + m_tmp.path() + "'").c_str()), 0);
  const std::string gone = m_tmp / "gone.cbz";
  for (const auto& [language, line] : {std::pair<std::string, std::string>{"C.UTF-8", "The file or folder was not found."},
                                       {"ja_JP.UTF-8", "\u30d5\u30a1\u30a4\u30eb\u307e\u305f\u306f\u30d5\u30a9\u30eb"
                                                       "\u30c0\u30fc\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3002"}}) {
    // Started, then asked to end once the line is out.
    const Outcome run =
        Run("env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=" + language + " XDG_CONFIG_HOME='" + (m_tmp / "config") +
            "' sh -c '\"$0\" -- \"$1\" 2>&1 & pid=$!; for i in $(seq 200); do sleep 0.1; "
            "grep -q \"^velmora: \" \"$2\" && break; done; kill -TERM $pid; wait $pid' '" +
            (m_tmp / "velmora") + "' '" + gone + "' '" + (m_tmp / "stdout") + "'");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\nvelmora: " + gone + ": " + line + "\n"), std::string::npos) << run.out;
  }
}

}  // namespace
