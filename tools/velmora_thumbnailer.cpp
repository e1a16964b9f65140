// velmora-thumbnailer: a book's cover as a PNG thumbnail, for file managers.
//
//   velmora-thumbnailer -s SIZE INPUT OUTPUT
//
// INPUT is a path or a file:// URI: an archive (its first entry that
// decodes, in the viewer's page order), a folder (likewise), or an image
// (that image). The cover is scaled down with the viewer's Lanczos scaler
// to fit SIZE x SIZE, keeping its shape; a smaller cover keeps its size.
// OUTPUT appears whole or not at all: the PNG is written beside it under
// another name and renamed. Exit status 0 when written, 1 when the book
// gives no cover (nothing is written), 2 for a wrong command line. The
// library's and the viewer's debug texts go to standard error.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/FileDamage.h"
#include "ordel/Ordel.h"
#include "platform/commandline.h"
#include "platform/system.h"
#include "platform/text.h"
#include "tools/BookTool.h"
#include "viewer/book/BookOpener.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/WICBitmapScaler.h"

namespace {

// A file manager waits for its thumbnailers; a book that takes longer than
// this (a damaged archive read in circles, a stalled disk) gets none.
constexpr unsigned kSecondsAtMost = 20;
constexpr long kLargestSize = 4096;

// What the time limit's handler needs, made before it can fire: the line it
// writes, and the temporary output to remove (empty while there is none).
char g_tooLong[1024] = {};
char g_temporary[4096] = {};

void OnTooLong(int) {
  if (g_temporary[0] != '\0') ::unlink(g_temporary);
  const ssize_t written = ::write(STDERR_FILENO, g_tooLong, std::strlen(g_tooLong));
  (void)written;
  ::_exit(1);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The local path a file:// URI names (percent escapes decoded, bytes as
// they are), the argument itself when it is no URI, or empty for a URI of
// another scheme or host.
std::string LocalPath(const std::string& argument) {
  static constexpr char kScheme[] = "file://";
  if (argument.compare(0, sizeof kScheme - 1, kScheme) != 0) {
    return argument.find("://") == std::string::npos ? argument : std::string();
  }
  std::string rest = argument.substr(sizeof kScheme - 1);
  if (rest.compare(0, 9, "localhost") == 0) rest.erase(0, 9);
  if (rest.empty() || rest[0] != '/') return {};
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 && HexValue(rest[i + 2]) >= 0) {
      path.push_back(static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2])));
      i += 2;
    } else if (rest[i] == '?' || rest[i] == '#') {
      break;
    } else {
      path.push_back(rest[i]);
    }
  }
  return path;
}

// Decodes the entry; *damage: why its bytes or picture are not whole, even
// when it does not decode (an archive item that failed its check).
bool Decode(IDirectory* root, const std::u16string& path, ComRef<IWICBitmapSource>& pixels,
            std::u16string* damage = nullptr) {
  ComRef<IFile> file;
  if (root->OpenFile(&file, path.c_str(), nullptr) != 0) return false;
  // The page as it is stored: false colour is a way of viewing, not the book.
  if (DecodeImage(file.get(), Colorizing::Off, pixels) != 0) {
    // Asked after the decode: an archive item is read whole only once a
    // decoder takes its first bytes.
    if (damage != nullptr) *damage = DamageOf(file.get());
    return false;
  }
  if (damage != nullptr) *damage = PageDamageOf(pixels.get());
  return true;
}

// A cover that is not whole makes no thumbnail: a file manager would keep
// a broken picture as the book's face.
bool Damaged(const std::u16string& damage, std::string* why) {
  if (damage.empty()) return false;
  *why = "the cover is damaged: " + Utf16ToUtf8(damage);
  return true;
}

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

// The cover: the image itself, or the first entry of the book that decodes.
// False and why not.
bool FindCover(IFileSystem* fileSystem, const std::u16string& path, bool isFolder, ComRef<IWICBitmapSource>& cover,
               std::string* why) {
  const CBookOpener opener(fileSystem, NameOrder::Natural);  // the viewer's page order
  // The opener's image test decodes the file: that decoding is the cover.
  const ImageTest keepImage = [&cover](IDirectory* root, const std::u16string& file) {
    return Decode(root, file, cover);
  };
  BookOpening opening = isFolder ? opener.OpenFolder(path) : opener.OpenFile(path, keepImage);
  switch (opening.status) {
    case OpenStatus::IsImage: return !Damaged(PageDamageOf(cover.get()), why);
    case OpenStatus::Opened: break;
    case OpenStatus::NotArchive: *why = NotArchiveReason(opening.why); return false;
    case OpenStatus::Refused: *why = "not a path the viewer takes"; return false;
    default: *why = isFolder ? "the folder cannot be listed" : "cannot be read"; return false;
  }
  for (const PageEntry& page : opening.book.pages) {
    if (page.state == PageState::Folder) continue;
    std::u16string damage;
    const bool decoded = Decode(opening.book.root.get(), page.path, cover, &damage);
    if (Damaged(damage, why)) return false;
    if (decoded) return true;
  }
  *why = "no entry of the book is an image the viewer reads";
  return false;
}

// The cover's pixels fitted into size x size, as straight (not
// premultiplied) BGRA rows.
bool Thumbnail(IWICBitmapSource* cover, UINT size, std::vector<uint8_t>& bgra, UINT* width, UINT* height) {
  UINT w = 0, h = 0;
  if (FAILED(cover->GetSize(&w, &h)) || w == 0 || h == 0) return false;
  ComRef<IWICBitmapSource> fitted;
  if (w > size || h > size) {
    const double scale = std::min(static_cast<double>(size) / w, static_cast<double>(size) / h);
    const UINT tw = std::max<UINT>(1, static_cast<UINT>(w * scale + 0.5));
    const UINT th = std::max<UINT>(1, static_cast<UINT>(h * scale + 0.5));
    ComRef<CWICBitmapScaler> scaler;
    scaler.Set(new CWICBitmapScaler);
    if (FAILED(scaler->Initialize(cover, std::min(tw, size), std::min(th, size)))) return false;
    fitted.Set(scaler.get());
  } else {
    fitted.Set(cover);
  }
  if (FAILED(fitted->GetSize(width, height))) return false;
  const UINT stride = *width * 4;
  bgra.assign(static_cast<std::size_t>(stride) * *height, 0);
  if (FAILED(fitted->CopyPixels(nullptr, stride, static_cast<UINT>(bgra.size()), bgra.data()))) return false;
  for (std::size_t i = 0; i < bgra.size(); i += 4) {
    const unsigned alpha = bgra[i + 3];
    if (alpha == 255) continue;
    for (int c = 0; c < 3; ++c)
      bgra[i + c] = alpha == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (bgra[i + c] * 255u + alpha / 2) / alpha));
  }
  return true;
}

// The PNG's bytes: RGB when every pixel is opaque, else RGBA.
bool EncodePng(std::vector<uint8_t>& bgra, UINT width, UINT height, std::vector<uint8_t>& png) {
  bool opaque = true;
  for (std::size_t i = 3; i < bgra.size() && opaque; i += 4) opaque = bgra[i] == 255;
  if (opaque) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < bgra.size(); i += 4, out += 3) std::memmove(&bgra[out], &bgra[i], 3);
    bgra.resize(out);
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = opaque ? PNG_FORMAT_BGR : PNG_FORMAT_BGRA;
  png_alloc_size_t bytes = 0;
  if (!png_image_write_to_memory(&image, nullptr, &bytes, 0, bgra.data(), 0, nullptr)) return false;
  png.resize(bytes);
  const bool ok = png_image_write_to_memory(&image, png.data(), &bytes, 0, bgra.data(), 0, nullptr) != 0;
  png.resize(bytes);
  png_image_free(&image);
  return ok;
}

// Writes beside `output` and renames it over, so that whoever looks sees
// no file or the whole of it.
bool WriteWhole(const std::string& output, const std::vector<uint8_t>& bytes, std::string* why) {
  std::string temp = output + ".XXXXXX";
  // A run killed while writing left OUTPUT.XXXXXX behind: gone once older
  // than a run may take.
  RemoveStaleTemporaries(output, 60);
  sigset_t alarm, before;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  sigprocmask(SIG_BLOCK, &alarm, &before);  // the name is whole before the handler may read it
  const int fd = ::mkstemp(temp.data());
  if (fd >= 0 && temp.size() < sizeof g_temporary) std::memcpy(g_temporary, temp.c_str(), temp.size() + 1);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (fd < 0) {
    *why = std::string("cannot write beside the output: ") + std::strerror(errno);
    return false;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  bool ok = ::fchmod(fd, 0666 & ~mask) == 0;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  const bool renamed = ok && ::rename(temp.c_str(), output.c_str()) == 0;
  if (!renamed) *why = std::string("cannot write the output: ") + std::strerror(errno);
  if (!renamed) ::unlink(temp.c_str());
  sigprocmask(SIG_BLOCK, &alarm, &before);
  g_temporary[0] = '\0';
  sigprocmask(SIG_SETMASK, &before, nullptr);
  return renamed;
}

constexpr char kHelp[] =
    "Usage: velmora-thumbnailer -s SIZE [--] INPUT OUTPUT\n"
    "Write the cover of INPUT, as the viewer would show its first page, to OUTPUT\n"
    "as a PNG that fits SIZE x SIZE. INPUT is an archive, a folder or an image,\n"
    "given as a path or a file:// URI. OUTPUT appears whole or not at all.\n"
    "\n"
    "  -s SIZE        the thumbnail's largest side in pixels\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Exit status: 0 when the cover was written, 1 when INPUT gives no cover\n"
    "or OUTPUT cannot be written, 2 for a wrong command line.\n";

int Usage() {
  std::fprintf(stderr,
               "usage: velmora-thumbnailer -s SIZE INPUT OUTPUT\n"
               "  INPUT: an archive, a folder or an image (a path or a file:// URI)\n"
               "  OUTPUT: the PNG to write; SIZE: its largest side, 1 to %ld\n",
               kLargestSize);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file size limit a write fails, as on a full disk, instead of
  // the signal ending the run.
  std::signal(SIGXFSZ, SIG_IGN);
  const CommandLine commandLine = ParseCommandLine(argc, argv, "velmora-thumbnailer", kHelp, {{"-s", true}});
  if (commandLine.exitStatus >= 0) return commandLine.exitStatus;
  long size = 0;
  for (const auto& [option, value] : commandLine.options) {
    char* end = nullptr;
    size = std::strtol(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != '\0') return Usage();
  }
  const std::vector<std::string>& arguments = commandLine.operands;
  if (arguments.size() != 2 || size < 1 || size > kLargestSize || arguments[1].empty()) return Usage();
  const std::string& input = arguments[0];
  const std::string& output = arguments[1];
  const std::string local = LocalPath(input);
  if (local.empty()) {
    std::fprintf(stderr, "velmora-thumbnailer: %s: not a local file\n", input.c_str());
    return 1;
  }
  // Past the limit the run ends with status 1 and a line saying why, its
  // temporary output removed: nothing was renamed into place.
  // (VELMORA_THUMBNAILER_SECONDS may shorten it, for tests.)
  unsigned seconds = kSecondsAtMost;
  if (const char* shorter = std::getenv("VELMORA_THUMBNAILER_SECONDS"))
    seconds = static_cast<unsigned>(std::clamp(std::atol(shorter), 1L, static_cast<long>(kSecondsAtMost)));
  std::snprintf(g_tooLong, sizeof g_tooLong, "velmora-thumbnailer: %s: took longer than %u s\n", input.c_str(),
                seconds);
  std::signal(SIGALRM, OnTooLong);
  ::alarm(seconds);

  CBookTool tool("velmora-thumbnailer");
  if (!tool.Start(input, local)) return 1;
  int status = 1;
  {
    std::string why;
    ComRef<IWICBitmapSource> cover;
    std::vector<uint8_t> pixels, png;
    UINT width = 0, height = 0;
    if (!FindCover(tool.fileSystem(), Utf8ToUtf16(tool.absolute()), tool.isFolder(), cover, &why)) {
      tool.Error(input, why);
    } else if (!Thumbnail(cover.get(), static_cast<UINT>(size), pixels, &width, &height) ||
               !EncodePng(pixels, width, height, png)) {
      tool.Error(input, "the cover cannot be scaled or encoded");
    } else if (!WriteWhole(output, png, &why)) {
      tool.Error(output, why);
    } else {
      status = 0;
    }
  }
  return status;
}
