#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need. As root it
# runs apt-get; otherwise through sudo when there is one. Packages already
# present are left as they are, so a second run costs a dpkg query.
# With --bench it also installs qimgv, the reference viewer the end-to-end
# benchmark (bench/e2e_turns.py) measures beside Velmora; nothing else needs it.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # tests and benchmarks (the end-to-end one grabs the X server's pixels
  # and presses keys through python3-xlib)
  libgtest-dev libgmock-dev libbenchmark-dev python3-xlib
  # the HTTP client's suite: a Python server, and the certificate openssl
  # makes for its TLS port
  python3 openssl
  # image decoding (Qt's readers, with WebP and TIFF), windows (with the
  # offscreen and X11 platforms) and a font for the about page
  qt6-base-dev qt6-image-formats-plugins qt6-qpa-plugins fonts-dejavu-core
  # archives (7-Zip's library, and its command for making test archives;
  # zip for the test archives made with Info-ZIP's own options, such as its
  # traditional encryption and a member read from standard input)
  p7zip-full zip
  # archives 7-Zip's library cannot decode here (compressed RAR, RAR 5,
  # tar) through libarchive; bsdtar to check what the tests read; solid
  # RAR 4, which libarchive refuses past its first entry, through unarr
  libarchive-dev libarchive-tools libunarr-dev
  # the library's 2D engine (OpenGL through Mesa, EGL for the offscreen
  # driver) and background music
  libsdl2-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libfaudio-dev libvorbis-dev libogg-dev
  # JPEG pages, decoded through libjpeg-turbo directly; still WebP pages
  # drawn smaller than they are, through libwebp
  libjpeg62-turbo-dev libwebp-dev
  # the recent-documents list
  libglib2.0-dev
  # the catalogues' passwords in the desktop's secret store (the Secret
  # Service or KWallet), through QtKeychain
  qtkeychain-qt6-dev
  # pages in AVIF, JPEG XL and HEIF: the decoders, and their encoders
  # (AV1 through libaom, HEVC through x265) that the tests write pages with;
  # the command-line encoders write the imaging benchmark's pages
  libavif-dev libjxl-dev libheif-dev libavif-bin libjxl-tools libheif-examples
  # the end-to-end test in a real X server
  xvfb xauth xdotool imagemagick
  # zlib, for the test that writes 12000 x 12000 PNGs
  zlib1g-dev
  # fuzzing: clang, with libFuzzer and the sanitizers' runtimes
  clang libclang-rt-14-dev
  # linking: LLVM's linker, several times quicker than BFD's on the test
  # programs (the build falls back to the default one without it)
  lld
  # installing and packaging: the thumbnailer's PNG writer, the Debian
  # package's tools (dpkg-shlibdeps computes its dependencies; CPack finds
  # the programs with file and readelf), and the validators of the desktop
  # entry and the AppStream metadata; lintian for the package itself, and
  # man to read the manual pages
  libpng-dev dpkg-dev file binutils desktop-file-utils appstream lintian man-db
  # menus and dialogs in the user's language: Qt's lrelease compiles the
  # viewer's translation at build time; Qt's own translations give its
  # dialogs' buttons in Japanese
  qt6-l10n-tools qt6-translations-l10n
)
[ "${1:-}" = "--bench" ] && packages+=(qimgv)
# The catalogue suite's book server: calibre's content server and library
# tool. Installed apart, without its recommended packages: they would bring
# hundreds of megabytes of desktop and e-book tools the suite never runs.
extras=(calibre)

installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]; }
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
missing_extras=()
for p in "${extras[@]}"; do
  installed "$p" || missing_extras+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_extras[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]} ${missing_extras[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "need root (or sudo) to install: ${missing[*]} ${missing_extras[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
[ ${#missing[@]} -eq 0 ] || "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
[ ${#missing_extras[@]} -eq 0 ] || "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing_extras[@]}"
