// The recent-documents list is shared with every other program of the
// desktop: ours is added to what is there, and a list we cannot read is
// left exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace {

// A list as another program writes it; `added` is its entry's date.
std::string OtherProgramsList(const std::string& added) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<xbel version=\"1.0\"\n"
         "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
         "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n>\n"
         "  <bookmark href=\"file:///home/someone/notes.txt\" added=\"" + added + "\" "
         "modified=\"2024-01-02T03:04:05Z\" visited=\"2024-01-02T03:04:05Z\">\n"
         "    <info>\n"
         "      <metadata owner=\"http://freedesktop.org\">\n"
         "        <mime:mime-type type=\"text/plain\"/>\n"
         "        <bookmark:applications>\n"
         "          <bookmark:application name=\"Text Editor\" exec=\"&apos;editor %u&apos;\" "
         "modified=\"2024-01-02T03:04:05Z\" count=\"1\"/>\n"
         "        </bookmark:applications>\n"
         "      </metadata>\n"
         "    </info>\n"
         "  </bookmark>\n"
         "</xbel>\n";
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class RecentDocuments : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_DATA_HOME");
    m_oldData = old != nullptr ? old : "";
    m_hadData = old != nullptr;
    ::setenv("XDG_DATA_HOME", m_dir.path().c_str(), 1);
    SetDebugOutputSink([](const char16_t* text, void* self) { static_cast<RecentDocuments*>(self)->m_debug += text; },
                       this);
  }
  void TearDown() override {
    SetDebugOutputSink(nullptr, nullptr);
    if (m_hadData)
      ::setenv("XDG_DATA_HOME", m_oldData.c_str(), 1);
    else
      ::unsetenv("XDG_DATA_HOME");
  }
  void Register(const std::string& name) {
    const std::u16string path = Utf8ToUtf16(m_dir / name);
    SHAddToRecentDocs(SHARD_PATHW, path.c_str());
  }
  std::string List() const { return Read(m_dir / "recently-used.xbel"); }
  int DebugLines() const {
    int lines = 0;
    for (std::size_t at = m_debug.find(u"\r\n"); at != std::u16string::npos; at = m_debug.find(u"\r\n", at + 2)) ++lines;
    return lines;
  }

  test::TempDir m_dir;
  std::u16string m_debug;
  std::string m_oldData;
  bool m_hadData = false;
};

TEST_F(RecentDocuments, AMissingListIsMadeAndOthersEntriesStay) {
  Register("first book.zip");
  EXPECT_NE(List().find("first%20book.zip"), std::string::npos);
  EXPECT_NE(List().find("name=\"velmora\""), std::string::npos);

  m_dir.WriteFile("recently-used.xbel", OtherProgramsList("2024-01-02T03:04:05Z"));
  Register("second.cbz");
  const std::string list = List();
  EXPECT_NE(list.find("file:///home/someone/notes.txt"), std::string::npos);
  EXPECT_NE(list.find("Text Editor"), std::string::npos);
  EXPECT_NE(list.find("second.cbz"), std::string::npos);
  EXPECT_EQ(m_debug, u"");

  // An empty file holds nothing to keep: it becomes a list.
  m_dir.WriteFile("recently-used.xbel", "");
  Register("third.zip");
  EXPECT_NE(List().find("third.zip"), std::string::npos);
  EXPECT_EQ(m_debug, u"");
}

TEST_F(RecentDocuments, AListThatDoesNotParseStaysByteForByteAndIsReportedOnce) {
  const std::string theirs = OtherProgramsList("yesterday");  // a date no parser accepts
  m_dir.WriteFile("recently-used.xbel", theirs);
  Register("book.zip");
  Register("other.zip");
  EXPECT_EQ(List(), theirs);
  EXPECT_EQ(DebugLines(), 1) << Utf16ToUtf8(m_debug);
  EXPECT_NE(m_debug.find(u"recently-used.xbel"), std::u16string::npos);
  ASSERT_GE(m_debug.size(), 2u);
  EXPECT_EQ(m_debug.substr(m_debug.size() - 2), u"\r\n");

  // Not XML at all: the same.
  const std::string garbage = "\x89PNG this is not a list\n";
  m_dir.WriteFile("recently-used.xbel", garbage);
  Register("book.zip");
  EXPECT_EQ(List(), garbage);
}

TEST_F(RecentDocuments, AListThatCannotBeReadIsLeftAlone) {
  // A folder where the list should be: it cannot be read (even by root) and
  // must not be replaced.
  m_dir.MakeFolder("recently-used.xbel");
  m_dir.WriteFile("recently-used.xbel/keep", "x");
  Register("book.zip");
  Register("book.zip");
  struct stat info {};
  ASSERT_EQ(::stat((m_dir / "recently-used.xbel").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(Read(m_dir / "recently-used.xbel/keep"), "x");
  EXPECT_EQ(DebugLines(), 1) << Utf16ToUtf8(m_debug);
}

}  // namespace
