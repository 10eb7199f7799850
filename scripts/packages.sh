# The Debian 12 packages the project needs, in one list grouped by need, and a
# function that installs the missing ones. Sourced by scripts/run, scripts/test,
# bench/run and .ci/run:
#
#   source scripts/packages.sh
#   ensure_packages build run lighttpd     install what these groups name and is
#                                          missing; returns 1 (after one message
#                                          naming the apt-get command) when it
#                                          cannot
#   package_group test                     print a group's packages, one a line
#
# Groups:
#   build      compile the program
#   run        the main job's database: the Firebird server and client, its
#              tools (isql-fb), curl
#   lighttpd, apache, nginx
#              one web server to serve the program under
#   test       the test command: the build and run groups, all three web
#              servers, GoogleTest, the fuzzer's compiler, the end-to-end
#              tests' clients and tools, the FastCGI and formatting tools, and
#              the windows and windows32 groups
#   windows    the Windows build, 64- and 32-bit, and its tests under wine
#              (scripts/build-windows, scripts/test-windows): mingw-w64,
#              wine, the tools to fetch and
#              unpack Debian's libxml2 source package, the client library's
#              header, and winegcc with gcc and python3 for the forwarding
#              client library (the database cases also need the run group)
#   windows32  the 32-bit Windows pass's forwarding client library
#              (scripts/test-windows, tests/windows/run32.sh): the i386 client
#              library, 32-bit Winelib and gcc parts; ensure_packages adds the
#              i386 architecture to dpkg first (once). Not wine32, which
#              makes /usr/bin/wine the 32-bit loader: where the kernel runs no
#              32-bit program, that breaks the 64-bit pass.
#   bench      the benchmarks (bench/run)
#   package    the Debian package and its test (scripts/package-deb,
#              tests/package/): dpkg-dev, lintian, git, ccache, systemd's tools,
#              man-db, nginx
#   all        everything above
#
# Installs as root directly or through sudo, with apt-get update first. While it
# installs, /usr/sbin/policy-rc.d (made only when there is none, and always
# removed again) keeps the packages' maintainer scripts from starting their
# services: every script here starts the servers it needs itself.

package_group() {
  case $1 in
    build)
      printf '%s\n' cmake make g++-12 g++ firebird-dev libxml2-dev libicu-dev zlib1g-dev liblzma-dev libfcgi-dev ;;
    run)
      printf '%s\n' libfbclient2 firebird3.0-server-core firebird3.0-server firebird3.0-utils curl ;;
    lighttpd)
      # mod_deflate, which compresses the answers, is a package of its own.
      printf '%s\n' lighttpd lighttpd-mod-deflate ;;
    apache)
      printf '%s\n' apache2 libapache2-mod-fcgid ;;
    nginx)
      printf '%s\n' nginx fcgiwrap ;;
    test)
      package_group build
      package_group run
      package_group lighttpd
      package_group apache
      package_group nginx
      printf '%s\n' libgtest-dev clang-14 libclang-rt-14-dev clang-format-14 libfcgi-dev libfcgi-bin \
        python3 iproute2 socat libxml2-utils php8.2-cli php8.2-soap
      # the snippets' TLS test: a self-signed certificate
      printf '%s
' openssl
      package_group windows
      package_group windows32 ;;
    windows)
      printf '%s\n' cmake make mingw-w64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix wine wine64 \
        dpkg-dev xz-utils googletest firebird-dev zip gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix
      # the forwarding client library of the database cases (tests/windows/fbforward);
      # the 64-bit Winelib parts by name: libwine-dev:i386 (windows32) meets
      # wine64-tools' dependency too, and apt then leaves the 64-bit ones out
      printf '%s\n' wine64-tools libwine-dev:amd64 gcc python3 ;;
    windows32)
      printf '%s\n' libfbclient2:i386 libwine-dev:i386 gcc-multilib ;;
    bench)
      package_group build
      package_group run
      package_group lighttpd
      printf '%s\n' libbenchmark-dev valgrind wrk gnuplot-nox hyperfine iproute2
      # bench/fastcgi/run: the persistent floor, its client and the PHP peer
      printf '%s\n' libfcgi-dev libfcgi-bin php8.2-cgi php8.2-interbase php8.2-xml ;;
    package)
      package_group build
      package_group run
      printf '%s\n' dpkg-dev lintian git ccache systemd man-db nginx python3 util-linux ;;
    all)
      package_group test
      package_group bench
      package_group package ;;
    *)
      echo "packages.sh: no package group '$1'" >&2
      return 2 ;;
  esac
}

package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

ensure_packages() {
  local group p missing=() wanted=()
  for group in "$@"; do
    mapfile -t -O "${#wanted[@]}" wanted < <(package_group "$group")
  done
  mapfile -t wanted < <(printf '%s\n' "${wanted[@]}" | awk '!seen[$0]++')
  for p in "${wanted[@]}"; do
    package_installed "$p" || missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0

  local sudo=
  if [ "$(id -u)" != 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=sudo
    else
      echo "missing Debian packages; install them as root with:" >&2
      echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
      return 1
    fi
  fi
  echo "== installing packages: ${missing[*]}"
  # In a subshell, so that its traps leave the caller's alone. (On the left of
  # "||" errexit is off in there: every step is checked by what follows.)
  (
    policy=/usr/sbin/policy-rc.d
    made_policy=0
    drop_policy() { if [ "$made_policy" = 1 ]; then $sudo rm -f "$policy"; fi; }
    trap drop_policy EXIT
    trap 'exit 130' INT TERM HUP
    if [ ! -e "$policy" ]; then
      made_policy=1
      printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
      $sudo chmod 755 "$policy"
    fi
    # The i386 packages (the windows32 group) need that architecture.
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
      ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386
    fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    # A maintainer script that fails to start a service leaves its package
    # half-configured; dpkg --configure -a settles that. Whether every package
    # ended up installed is checked below.
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      "${missing[@]}" || $sudo env DEBIAN_FRONTEND=noninteractive dpkg --configure -a || true
  ) || return 1
  local failed=()
  for p in "${missing[@]}"; do
    package_installed "$p" || failed+=("$p")
  done
  if [ "${#failed[@]}" -gt 0 ]; then
    echo "these packages did not install: ${failed[*]}; try as root:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends ${failed[*]}" >&2
    return 1
  fi
}
