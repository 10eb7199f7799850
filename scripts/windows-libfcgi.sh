# shellcheck shell=bash
# libfcgi's record layer for a Windows build, from Debian's libfcgi source package
# (Debian has no mingw build of it). Sourced by scripts/build-windows; call
#
#   build_libfcgi TRIPLET PREFIX       e.g. x86_64-w64-mingw32 build-win/cache/libfcgi
#
# with a deb-src entry in place (build-windows's ensure_deb_src). It writes
# PREFIX/lib/libfcgi.a and PREFIX/include/ (fcgiapp.h, fastcgi.h, fcgi_config.h),
# once: nothing is done when the archive is there.
#
# Only fcgiapp.c is built: it reads and writes the records. The library's own
# Windows side (os_win32.c) is left out and the program supplies those OS_*
# functions itself (platform/PlatformWin32FastCGI.cpp): os_win32.c blocks in
# ConnectNamedPipe with no way to end the wait, ends the process in the middle of
# a request when the shutdown event comes (raise(SIGTERM), exit code 3), reads a
# request with no time limit and keeps its handles in ints of a fixed table.
build_libfcgi() {
  local triplet=$1 prefix=$2
  [ -f "$prefix/lib/libfcgi.a" ] && return 0
  echo "building libfcgi for $triplet (once, into $prefix)"
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/libfcgi-src.XXXXXX")
  (cd "$work" && apt-get source libfcgi >source.log 2>&1) || { cat "$work/source.log"; rm -rf "$work"; return 1; }
  local src
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libfcgi-*' | head -1)
  # What configure would find on Windows: none of the POSIX headers.
  printf '%s\n' '/* fcgi_config.h for a mingw build (no configure run) */' \
    '#define HAVE_LIMITS_H 1' '#define HAVE_STRERROR 1' '#define HAVE_FPOS 1' >"$src/include/fcgi_config.h"
  mkdir -p "$prefix/lib" "$prefix/include"
  if ! "$triplet-gcc" -O2 -w -I "$src/include" -c "$src/libfcgi/fcgiapp.c" -o "$work/fcgiapp.o" ||
    ! "$triplet-ar" rcs "$prefix/lib/libfcgi.a" "$work/fcgiapp.o"; then
    rm -rf "$work"
    return 1
  fi
  cp "$src/include/fcgiapp.h" "$src/include/fastcgi.h" "$src/include/fcgi_config.h" "$prefix/include/"
  rm -rf "$work"
}
