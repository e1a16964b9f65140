#!/usr/bin/env bash
# The viewer as installed, either by `cmake --install` into a DESTDIR or by
# unpacking the Debian package that CPack builds into a scratch root: the
# tree holds what a desktop needs and its files pass the validators; the
# installed viewer, started on a .cbz under Xvfb, finds its library (not
# the build tree's) and its data, shows the book, quits on SIGTERM and
# leaves its profile in $XDG_CONFIG_HOME; with no place to write a profile
# it says so once and shows the book all the same; the installed
# thumbnailer makes a cover; the manual pages are there, and the package
# is one lintian finds no error in; from the package, a new user adds,
# browses, searches and reads a book server's catalogue.
#   installed_viewer.sh destdir|package BUILD_DIR SAMPLE_BOOK
set -euo pipefail
mode=$1 build=$2 book=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
fail() { echo "FAIL: $*"; exit 1; }

case $mode in
  destdir)
    DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" || { cat "$work/install.log"; exit 1; }
    ;;
  package)
    (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log") ||
      { cat "$work/cpack.log"; exit 1; }
    deb=$(ls "$work"/pkg/velmora_*.deb)
    echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
    dpkg-deb --field "$deb" Package Version Section Depends Recommends | tee "$work/fields"
    grep -q "^Section: graphics$" "$work/fields" || fail "section"
    grep -q "^Recommends: qt6-image-formats-plugins$" "$work/fields" || fail "recommends"
    # Computed from the programs' libraries, and what is loaded at run time.
    # The modules are opened at run time, their libraries are still the package's.
    for needed in libqt6gui6 libqt6widgets6 libarchive13 libunarr1 libc6 libavif15 libjxl0.7 libheif1 libsdl2-2.0-0 \
                  libfaudio0 p7zip-full qt6-qpa-plugins; do
      grep -q "^Depends:.*\b$needed\b" "$work/fields" || fail "no $needed among the dependencies"
    done
    lintian --fail-on error "$deb" || fail "lintian finds errors"
    dpkg-deb -x "$deb" "$root"
    ;;
  *) fail "unknown mode $mode" ;;
esac

usr=$root/usr
for file in bin/velmora bin/velmora-book bin/velmora-thumbnailer share/velmora/res.pack \
            share/applications/io.github.velmora.Velmora.desktop \
            share/metainfo/io.github.velmora.Velmora.metainfo.xml share/thumbnailers/velmora.thumbnailer \
            share/icons/hicolor/48x48/apps/io.github.velmora.Velmora.png \
            share/icons/hicolor/256x256/apps/io.github.velmora.Velmora.png \
            share/man/man1/velmora.1.gz share/man/man1/velmora-book.1.gz share/man/man1/velmora-thumbnailer.1.gz \
            share/doc/velmora/copyright share/doc/velmora/changelog.Debian.gz; do
  [ -e "$usr/$file" ] || fail "$file not installed"
done
# Each page reads as a manual page, without a complaint from the formatter.
for page in "$usr"/share/man/man1/*.1.gz; do
  complaints=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "$page does not format"
  [ -z "$complaints" ] || fail "$page: $complaints"
done
library=$(find "$usr/lib" -name libordel.so)
[ -n "$library" ] || fail "libordel.so not installed"
echo "library: ${library#"$root"}"
# Nothing of the build tree's on the way: the programs find the installed
# library through their own RPATH.
for program in velmora velmora-book velmora-thumbnailer; do
  runpath=$(readelf -d "$usr/bin/$program" | grep -E "RUNPATH|RPATH" || true)
  [[ "$runpath" == *'$ORIGIN/../lib'* ]] || fail "$program: $runpath"
  [[ "$runpath" != *"$build"* ]] || fail "$program keeps the build tree: $runpath"
  resolved=$(ldd "$usr/bin/$program" | awk '/libordel.so/ { print $3 }')
  [ "$(realpath "$resolved")" = "$(realpath "$library")" ] || fail "$program loads libordel.so from $resolved"
done

desktop-file-validate "$usr/share/applications/io.github.velmora.Velmora.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$usr/share/metainfo/io.github.velmora.Velmora.metainfo.xml" || fail "metainfo"
grep -q "^Exec=velmora %f$" "$usr/share/applications/io.github.velmora.Velmora.desktop" || fail "Exec"
grep -q "^Exec=velmora-thumbnailer -s %s %u %o$" "$usr/share/thumbnailers/velmora.thumbnailer" || fail "thumbnailer"

# The book as a comic archive.
(cd "$book" && 7z a -tzip "$work/book.cbz" . >/dev/null)
"$usr/bin/velmora-thumbnailer" -s 128 "$work/book.cbz" "$work/cover.png" 2>/dev/null || fail "thumbnailer"
[ "$(identify -format "%[fx:max(w,h)]" "$work/cover.png")" = 128 ] || fail "cover size"
# An AVIF cover: the decoders' module found from the installed program.
for module in libvelmora-codecs.so libordel-media.so; do
  [ -e "$(dirname "$library")/$module" ] || fail "$module is not beside libordel.so"
done
mkdir "$work/avif"
convert -size 64x96 gradient:red-blue "$work/avif/001.avif"
(cd "$work/avif" && 7z a -tzip "$work/avif.cbz" . >/dev/null)
"$usr/bin/velmora-thumbnailer" -s 48 "$work/avif.cbz" "$work/avif.png" 2>/dev/null || fail "AVIF cover"
[ "$(identify -format "%[fx:max(w,h)]" "$work/avif.png")" = 48 ] || fail "AVIF cover size"

cat > "$work/inside.sh" <<'INSIDE'
set -euo pipefail
velmora=$1; book=$2; log=$3
QT_QPA_PLATFORM=xcb "$velmora" "$book" 2> "$log" &
pid=$!
for _ in $(seq 200); do
  grep -q "^Show Image" "$log" && break
  kill -0 "$pid" 2>/dev/null || { echo "velmora ended early"; cat "$log"; exit 1; }
  sleep 0.1
done
grep -q "^Show Image" "$log" || { echo "no page shown"; cat "$log"; exit 1; }
kill -TERM "$pid"
wait "$pid"
INSIDE
run() {  # run LOG: the installed viewer on the book under Xvfb, with the environment as set
  env -u XDG_CONFIG_HOME HOME="$work/home" "$@" \
    xvfb-run -a -s "-noreset -screen 0 1280x800x24" bash "$work/inside.sh" "$usr/bin/velmora" "$work/book.cbz" "$log"
}

# The profile goes to the user's config folder; nothing is written into the
# installed tree, writable as it is here.
mkdir -p "$work/home"
log=$work/first.log
run XDG_CONFIG_HOME="$work/config" || fail "first run"
profile=$work/config/velmora/velmora.ini
[ -f "$profile" ] || { cat "$log"; fail "no profile in XDG_CONFIG_HOME"; }
iconv -f UTF-16 -t UTF-8 "$profile" | grep -q "^c.history.0.name=$work/book.cbz"$'\r'"$" || fail "profile: $(iconv -f UTF-16 -t UTF-8 "$profile")"
[ ! -e "$usr/bin/profile" ] || fail "a profile folder beside the installed program"
echo "profile: ${profile#"$work"/}"

# Without XDG_CONFIG_HOME: ~/.config.
log=$work/home.log
run || fail "run with HOME only"
[ -f "$work/home/.config/velmora/velmora.ini" ] || fail "no profile in ~/.config"

# No place to write: one line, and the book is shown all the same.
: > "$work/blocked"
log=$work/blocked.log
run XDG_CONFIG_HOME="$work/blocked/config" || fail "run without a profile place"
[ "$(grep -c "^Profile Not Writable : $work/blocked/config/velmora/velmora.ini"$'\r'"$" "$log")" = 1 ] ||
  { cat "$log"; fail "not told once"; }
# The package, as a new user meets it: a book server's catalogue added,
# browsed, searched and read.
if [ "$mode" = package ]; then
  "$(dirname "$0")/catalogue_from_package.sh" "$usr/bin/velmora" || fail "the catalogue from the package"
fi
echo "installed viewer ($mode): OK"
