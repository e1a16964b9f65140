// velmora-book: a book as the viewer sees it. Opens a folder, an image (its
// folder becomes the book, as in the viewer) or an archive through the
// viewer's own opener, and lists the book's entries in book order, one a
// line: "d" or "f", the size, the path inside the book. With --hash it reads
// every file entry through the same code the viewer reads pages with and
// prints its SHA-256 instead:
//
//   velmora-book [--hash] BOOK
//
//   <sha-256 in lower-case hex>  /path/inside/the/book
//   ERROR  /path/inside/the/book  <reason>
//
// Exit status: 0 when every entry was read, 2 when some could not be, 1 when
// the book itself does not open or none is named (the reason on standard
// error); an unknown option is 2, as for the other programs. The library's
// and the viewer's debug texts go to standard error, as always.
// A locked archive is opened with the password in VELMORA_PASSWORD, when
// that is set; nothing is ever asked.
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/FileDamage.h"
#include "ordel/Ordel.h"
#include "platform/commandline.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "tools/BookTool.h"
#include "viewer/archive/Archive.h"
#include "viewer/book/BookOpener.h"
#include "viewer/imaging/ImageDecoder.h"

namespace {

enum class Mode { List, Hash };

constexpr char kHelp[] =
    "Usage: velmora-book [--hash] [--] BOOK\n"
    "List the entries of BOOK in the viewer's order, one a line: d or f, the size,\n"
    "the path inside the book. BOOK is a folder, an image (its folder is the book)\n"
    "or an archive, opened as the viewer opens it.\n"
    "\n"
    "      --hash     print each file's SHA-256, read as the viewer reads pages,\n"
    "                 or ERROR, the path and why it could not be read\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Exit status: 0 when every entry was read, 1 when BOOK does not open or\n"
    "none is named, 2 when some entries could not be read or an option is\n"
    "unknown.\n";

// Why a file that is no image opened as no archive either.
const char* NotArchiveReason(OpenFailure why) {
  switch (why) {
    case OpenFailure::ArchiveLibraryMissing: return "7-Zip's library (7z.so) not found, and libarchive does not read it";
    case OpenFailure::ArchiveLibraryRefused: return "7-Zip's library (7z.so) refused as unfit, and libarchive does not read it";
    case OpenFailure::NeedsPassword: return "an archive whose list is encrypted: it needs a password";
    case OpenFailure::Damaged: return "a damaged image or archive";
    default: return "neither an image nor an archive the viewer reads";
  }
}

// The viewer's image test: the file decodes as a page.
bool IsImage(IDirectory* root, const std::u16string& path) {
  ComRef<IFile> file;
  if (root->OpenFile(&file, path.c_str(), nullptr) != 0) return false;
  ComRef<IWICBitmapSource> pixels;
  return DecodeImage(file.get(), Colorizing::Off, pixels) == 0;
}

// The entry's path inside the book: an archive's paths are already; a
// folder book's are under the book's folder.
std::u16string InsideBook(const Book& book, const PageEntry& page) {
  if (book.kind == BookKind::Folder && page.path.compare(0, book.folder.size(), book.folder) == 0)
    return u"/" + page.path.substr(book.folder.size());
  return page.path;
}

// The last line of a debug text, without its line end.
std::string LastLine(const std::u16string& text) {
  std::string utf8 = Utf16ToUtf8(text);
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r')) utf8.pop_back();
  const std::size_t end = utf8.find_last_of("\r\n");
  return end == std::string::npos ? utf8 : utf8.substr(end + 1);
}

// What an archive says of an item that does not open; null when it says
// nothing more than the debug text does.
const char* TroubleReason(ArchiveTrouble trouble) {
  switch (trouble) {
    case ArchiveTrouble::NeedsPassword: return "encrypted: needs its password";
    case ArchiveTrouble::UnsupportedMethod: return "compressed with a method not read here";
    case ArchiveTrouble::Damaged: return "damaged: it does not extract whole";
    default: return nullptr;
  }
}

// Reads the entry to its end through the book's root; its hash in lower-case
// hex, or false and why not.
bool HashEntry(IDirectory* root, const PageEntry& page, std::string* result) {
  // The archive layer's texts say why an entry does not open: kept for the
  // reason, and then written as they would have been.
  std::u16string debug;
  CaptureThreadDebugOutput(&debug);
  ComRef<IFile> file;
  const int32_t opened = root->OpenFile(&file, page.path.c_str(), nullptr);
  CaptureThreadDebugOutput(nullptr);
  if (!debug.empty()) OutputDebugStringW(debug.c_str());
  if (opened != 0) {
    const ArchiveTrouble trouble = DiagnoseArchiveItem(root, page.path.c_str());
    const char* why = TroubleReason(trouble);
    const std::string said = LastLine(debug);
    // A damaged item's own words (a volume not beside it) say more than
    // the kind of trouble does.
    const std::string detail = why == nullptr || (trouble == ArchiveTrouble::Damaged && !said.empty()) ? said : why;
    *result = "cannot be opened" + (detail.empty() ? std::string() : " (" + detail + ")");
    return false;
  }
  GChecksum* checksum = g_checksum_new(G_CHECKSUM_SHA256);
  std::vector<char> buffer(1 << 20);
  uint64_t total = 0;
  for (;;) {
    uint32_t got = 0;
    if (file->Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got) != 0) {
      g_checksum_free(checksum);
      *result = "read failed after " + std::to_string(total) + " bytes";
      return false;
    }
    if (got == 0) break;
    g_checksum_update(checksum, reinterpret_cast<const guchar*>(buffer.data()), got);
    total += got;
  }
  // Bytes the archive could not vouch for are no hash of the entry. Asked
  // once they are read: a large archive item is extracted whole only then.
  if (const std::u16string damage = DamageOf(file.get()); !damage.empty()) {
    g_checksum_free(checksum);
    *result = "damaged: " + Utf16ToUtf8(damage);
    return false;
  }
  *result = g_checksum_get_string(checksum);
  g_checksum_free(checksum);
  return true;
}

int Show(const Book& book, Mode mode) {
  int status = 0;
  for (const PageEntry& page : book.pages) {
    const bool folder = page.state == PageState::Folder;
    const std::string path = Utf16ToUtf8(InsideBook(book, page));
    if (mode == Mode::List) {
      std::printf("%s %12llu %s\n", folder ? "d" : "f", static_cast<unsigned long long>(page.size), path.c_str());
      continue;
    }
    if (folder) continue;
    std::string result;
    if (HashEntry(book.root.get(), page, &result)) {
      std::printf("%s  %s\n", result.c_str(), path.c_str());
    } else {
      std::printf("ERROR  %s  %s\n", path.c_str(), result.c_str());
      status = 2;
    }
    std::fflush(stdout);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine commandLine = ParseCommandLine(argc, argv, "velmora-book", kHelp, {{"--hash", false}});
  if (commandLine.exitStatus >= 0) return commandLine.exitStatus;
  const Mode mode = commandLine.Has("--hash") ? Mode::Hash : Mode::List;
  const std::vector<std::string>& arguments = commandLine.operands;
  if (arguments.size() != 1 || arguments[0].empty()) {
    std::fprintf(stderr, "usage: velmora-book [--hash] BOOK\n  BOOK: a folder, an image or an archive\n"
                         "Try 'velmora-book --help' for more information.\n");
    return 1;
  }
  const std::string& argument = arguments[0];
  CBookTool tool("velmora-book");
  if (!tool.Start(argument, argument)) return 1;
  const std::u16string path = Utf8ToUtf16(tool.absolute());
  CBookOpener opener(tool.fileSystem(), NameOrder::Natural);  // the viewer's page order
  if (const char* given = std::getenv("VELMORA_PASSWORD"); given != nullptr)
    opener.UsePasswords(nullptr, [password = Utf8ToUtf16(given)](const std::u16string&, bool wrongBefore) {
      return wrongBefore ? std::nullopt : std::optional<std::u16string>(password);  // tried once
    });
  const bool isFolder = tool.isFolder();
  BookOpening opening = isFolder ? opener.OpenFolder(path) : opener.OpenFile(path, IsImage);
  // An image: the viewer opens its folder at it.
  if (opening.status == OpenStatus::IsImage) opening = opener.OpenFolder(opening.folder);

  int status = 1;
  switch (opening.status) {
    case OpenStatus::Opened:
      status = Show(opening.book, mode);
      if (opening.book.pagesMissing) {
        tool.Error(argument, "damaged: some pages could not be read");  // its list broke off
        status = 2;
      }
      break;
    case OpenStatus::Refused: tool.Error(argument, "not a path the viewer takes"); break;
    case OpenStatus::NotArchive: tool.Error(argument, NotArchiveReason(opening.why)); break;
    default: tool.Error(argument, isFolder ? "the folder cannot be listed" : "cannot be read"); break;
  }
  return status;
}
