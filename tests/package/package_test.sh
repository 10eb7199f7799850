#!/usr/bin/env bash
# The Debian package as an administrator meets it, on this machine, as root:
# built from a clean clone of the checkout (scripts/package-deb, and once more
# with a higher version for the upgrade), installed with dpkg and with apt under
# a policy-rc.d that keeps services from starting, the web server snippets
# served (tests/package/snippets_test.sh, when the checkout has it), the units
# checked by systemd-analyze, the persistent mode as dorvana.socket starts it
# (systemd-socket-activate, user and folder as the unit sets them) behind an
# nginx of the test's own, then upgrade, reinstall, remove and purge.
#
#   tests/package/package_test.sh CHECKOUT
#
# It refuses (exit 1, before touching anything) when dorvana is installed or
# /var/lib/dorvana exists: those would be a real installation. What it enables
# in the machine's web servers it removes again (the purge does, and the exit
# checks that /etc/apache2, /etc/lighttpd and /etc/nginx are as they were).
# The units' sandboxing is not exercised: that needs systemd as PID 1.
ROOT=$(cd "${1:?usage: package_test.sh CHECKOUT}" && pwd)
# shellcheck source=../e2e/harness.sh
source "$ROOT/tests/e2e/harness.sh" /usr/sbin/dorvana
set -o pipefail

if [ "$(id -u)" != 0 ]; then echo "SKIP: the package test needs root"; exit 77; fi
# The package's state: installed, config-files, ... (empty or not-installed: none).
state() { dpkg-query -W -f='${db:Status-Status}' dorvana 2>/dev/null | sed 's/^not-installed$//'; }
if [ -n "$(state)" ] || [ -e /var/lib/dorvana ]; then
  echo "FAIL dorvana is installed here (or /var/lib/dorvana exists): not touching a real installation"
  exit 1
fi

T=$(mktemp -d /tmp/dorvana-package.XXXXXX)
chmod 755 "$T"
LIB=/var/lib/dorvana
export DEBIAN_FRONTEND=noninteractive

# The web servers' configuration before, to compare at the exit.
web_config() {
  find /etc/apache2 /etc/lighttpd /etc/nginx /var/lib/apache2 -xdev \( -type f -o -type l \) \
    -printf '%p %l\n' 2>/dev/null | sort
}
web_config >"$T/web-before"

policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && made_policy=1
fi
package_cleanup() {
  if [ -n "$(state)" ]; then dpkg_do -P dorvana >/dev/null 2>&1 || true; fi
  rm -rf "$LIB"
  [ "$made_policy" = 0 ] || rm -f "$policy"
  web_config >"$T/web-after"
  if ! cmp -s "$T/web-before" "$T/web-after"; then
    echo "FAIL the machine's web server configuration changed:"
    diff "$T/web-before" "$T/web-after" | head -20
    E2E_FAILED=1
  fi
  if [ "$E2E_FAILED" = 0 ]; then rm -rf "$T"; else echo "kept $T"; fi
}
e2e_at_exit package_cleanup

# dpkg waits for the lock (other installs on a shared machine) as apt does.
dpkg_do() {
  local out rc
  for _ in $(seq 60); do
    rc=0
    out=$(dpkg "$@" </dev/null 2>&1) || rc=$?
    if [ "$rc" != 0 ] && grep -q 'frontend lock\|locked by another' <<<"$out"; then sleep 5; continue; fi
    printf '%s\n' "$out"
    return "$rc"
  done
  return 1
}
apt_do() {
  apt-get -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$@" </dev/null 2>&1
}
step() { echo "== $1 ($SECONDS s)"; }

step "build from a clean clone"
git clone -q "$ROOT" "$T/src"
if ! (cd "$T/src" && scripts/package-deb >"$T/build.log" 2>&1 &&
      DORVANA_VERSION="$(scripts/version)+1" scripts/package-deb >>"$T/build.log" 2>&1); then
  tail -30 "$T/build.log"
  fail "scripts/package-deb"
  finish
fi
pass "scripts/package-deb, twice, lintian without errors"
V=$("$T/src/scripts/version")
DEB=$T/src/dist/dorvana_${V}_amd64.deb
DEB2=$T/src/dist/dorvana_${V}+1_amd64.deb
check "package file" "$(ls "$T/src/dist")" "dorvana_${V}+1_amd64.deb
dorvana_${V}_amd64.deb"
check "Depends names the client library" \
  "$(dpkg-deb -f "$DEB" Depends | grep -c 'libfbclient2')" 1
SNIPPETS=0
[ -f "$ROOT/deploy/linux/FILES" ] && SNIPPETS=1

step "install with dpkg"
out=$(dpkg_do -i "$DEB") || { echo "$out"; fail "dpkg -i"; finish; }
check "first install: the settings file made" "$(stat -c '%a %U %G' "$LIB/dorvana.def")" "640 root www-data"
check "first install: the timeouts shown commented" \
  "$(grep -c '^# \(REQUEST\|CONNECT\) TIMEOUT=' "$LIB/dorvana.def")" 2
check "first install: the archive writable by www-data only" \
  "$(stat -c '%a %U %G' "$LIB/Orders")" "750 www-data www-data"
for f in "$LIB/dorvana" /usr/sbin/dorvana /usr/share/man/man8/dorvana.8.gz \
  /lib/systemd/system/dorvana.socket /lib/systemd/system/dorvana.service \
  /lib/systemd/system/dorvana-rotate.service /lib/systemd/system/dorvana-rotate.timer; do
  [ -e "$f" ] || fail "installed: $f"
done
check "first install: the socket and the timer enabled" \
  "$(find /etc/systemd/system/sockets.target.wants/dorvana.socket \
    /etc/systemd/system/timers.target.wants/dorvana-rotate.timer -type l 2>/dev/null | wc -l)" 2
if [ "$SNIPPETS" = 1 ]; then
  while read -r _ target _; do
    [ -e "$target" ] || fail "installed: $target (deploy/linux/FILES)"
  done <"$ROOT/deploy/linux/FILES"
  check "the snippets are configuration files" "$(grep -c '^/etc/' /var/lib/dpkg/info/dorvana.conffiles)" \
    "$(grep -c ' /etc/' "$ROOT/deploy/linux/FILES")"
fi

step "the operators' command and the units"
out=$(/usr/sbin/dorvana --help 2>&1)
check "/usr/sbin/dorvana --help as root" "$(grep -c '^Usage: dorvana' <<<"$out")" 1
# Root becomes www-data: an archive folder only root may write is a problem.
chown root "$LIB/Orders"
out=$(/usr/sbin/dorvana --check 2>&1)
chown www-data "$LIB/Orders"
check "/usr/sbin/dorvana as root runs as www-data" "$(grep -c '^problem: archive folder .* is not writable' <<<"$out")" 1
rc=0
out=$(setpriv --reuid=www-data --regid=www-data --init-groups /usr/sbin/dorvana --check 2>&1) || rc=$?
check "dorvana --check as www-data reads the settings" "$(grep -c 'SERVER NAME=127.0.0.1:/srv/db/restaurant.fdb' <<<"$out")" 1
rc=0
out=$(setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/sbin/dorvana --check 2>&1) || rc=$?
check "dorvana as nobody: refused" "$rc $(grep -c 'run this as root' <<<"$out")" "77 1"
man_page=/usr/share/man/man8/dorvana.8.gz
check "man dorvana: its sections" "$(MANWIDTH=80 man -l "$man_page" 2>/dev/null |
  grep -c '^\(MODES\|OPTIONS\|SETTINGS FILE\|ARCHIVE\|EXIT STATUS\|FILES\)$')" 6
check "man dorvana: no warnings" "$(MANWIDTH=80 man --warnings -l "$man_page" 2>&1 >/dev/null)" ""
out=$(cd /lib/systemd/system && systemd-analyze verify dorvana.socket dorvana.service \
  dorvana-rotate.service dorvana-rotate.timer 2>&1) || fail "systemd-analyze verify: $out"
# Only our units' lines count: other units on the machine may have warnings.
check "systemd-analyze verify: no complaint" "$(grep -c 'dorvana' <<<"$out")" 0

step "the database and the persistent mode behind nginx"
"$ROOT/scripts/fbserver.sh" start >/dev/null
mkdir -m 777 "$T/db"
DB=127.0.0.1:$T/db/demo.fdb
"$ROOT/scripts/demo-db.sh" "$DB" >/dev/null
printf 'SERVER NAME=%s\r\nUSER NAME=DORVANA\r\nPASSWORD=dorvana\r\n' "$DB" >"$LIB/dorvana.def"
drop_db() {
  printf "connect '%s';\ndrop database;\n" "$DB" | isql-fb -q -user DORVANA -password dorvana >/dev/null 2>&1
}
e2e_at_exit drop_db
rc=0
/usr/sbin/dorvana --check >"$T/check.out" 2>&1 || rc=$?
check "dorvana --check against the test's database: no problem" "$(grep -c '^problem:' "$T/check.out")" 0

# As dorvana.socket and dorvana.service would: the socket (0660, group
# www-data), the program as www-data in its folder with the socket passed.
sock=$T/run/dorvana.sock
mkdir -m 755 "$T/run"
(cd "$LIB" && exec systemd-socket-activate -l "$sock" \
  setpriv --reuid=www-data --regid=www-data --init-groups "$LIB/dorvana" --processes 2 \
  </dev/null 2>"$T/activate.log") &
ACTIVATED=$!
stop_activated() { kill -TERM "$ACTIVATED" 2>/dev/null; wait "$ACTIVATED" 2>/dev/null; }
e2e_at_exit stop_activated
wait_for 30 test -S "$sock" || fail "the passed socket"
chgrp www-data "$sock" && chmod 0660 "$sock"
PORT=$(free_port)
mkdir -p "$T/nginx"
cat >"$T/nginx/nginx.conf" <<EOF
user www-data;
worker_processes 1;
pid $T/nginx/nginx.pid;
error_log $T/nginx/error.log;
events {}
http {
  access_log off;
  client_body_temp_path $T/nginx/body;
  fastcgi_temp_path $T/nginx/fastcgi;
  proxy_temp_path $T/nginx/proxy;
  uwsgi_temp_path $T/nginx/uwsgi;
  scgi_temp_path $T/nginx/scgi;
  server {
    listen 127.0.0.1:$PORT;
    location = /dorvana {
      include /etc/nginx/fastcgi_params;
      fastcgi_pass unix:$sock;
    }
  }
}
EOF
nginx -c "$T/nginx/nginx.conf" || fail "nginx started"
stop_nginx() { [ -f "$T/nginx/nginx.pid" ] && kill -QUIT "$(cat "$T/nginx/nginx.pid")"; }
e2e_at_exit stop_nginx
wait_for 10 listening 127.0.0.1 "$PORT" || fail "nginx listens"
URL=http://127.0.0.1:$PORT/dorvana
check "persistent: q=test" "$(curl -s -o /dev/null -w '%{http_code}' "$URL?q=test")" 200
# A list and an order from the test's database, through the installed program.
# The menu as the CGI program gives it (its body after the empty line), and
# through nginx: the same bytes, and not empty.
MENU='q=getsprfood&user=1001&device=HALL-1'
(cd "$LIB" && env -i REQUEST_METHOD=GET QUERY_STRING="$MENU" SERVER_PROTOCOL=HTTP/1.1 \
  setpriv --reuid=www-data --regid=www-data --init-groups ./dorvana) | tr -d '\r' |
  sed '1,/^$/d' >"$T/menu.cgi"
curl -s "$URL?$MENU" | tr -d '\r' >"$T/menu.fcgi"
check "persistent: the menu of card 1001 at HALL-1, as CGI gives it" \
  "$(cmp -s "$T/menu.cgi" "$T/menu.fcgi" && wc -c <"$T/menu.fcgi" | awk '{ print ($1 > 1000) }')" 1
curl -s "$URL?q=getsprstewards" >"$T/stewards"
check "persistent: the waiters, with card 1001" "$(grep -c '1001' "$T/stewards")" 1
GUID=package-$$-$RANDOM
ORDER="<?xml version='1.0' encoding='windows-1251'?>
<ORDER><GUID>$GUID</GUID><DEVICEID>HALL-1</DEVICEID><PIN>1001</PIN><TABLE>5</TABLE><FOODS>
<food>301<count>2</count><weight>0</weight><isModificator>no</isModificator></food>
</FOODS></ORDER>"
check "persistent: the order imported" "$(curl -s --data-binary "$ORDER" "$URL?q=addorder")" ok
check "persistent: the order archived by www-data in the working folder" \
  "$(find "$LIB/Orders" -maxdepth 1 -name 'order *.xml' -user www-data | wc -l)" 1
kill -TERM "$ACTIVATED"
rc=0
wait "$ACTIVATED" || rc=$?
check "persistent: TERM ends it with 0" "$rc" 0

if [ -f "$ROOT/tests/package/snippets_test.sh" ]; then
  step "the snippets (snippets_test.sh)"
  # The activator leaves its socket file: the new one must get the rights.
  rm -f "$sock"
  (cd "$LIB" && exec systemd-socket-activate -l "$sock" \
    setpriv --reuid=www-data --regid=www-data --init-groups "$LIB/dorvana" --processes 2 \
    </dev/null 2>>"$T/activate.log") &
  ACTIVATED=$!
  wait_for 30 test -S "$sock" || fail "the passed socket"
  chgrp www-data "$sock" && chmod 0660 "$sock"
  if DORVANA_FASTCGI_SOCKET=$sock bash "$ROOT/tests/package/snippets_test.sh" >"$T/snippets.log" 2>&1; then
    pass "snippets_test.sh"
  else
    cat "$T/snippets.log"
    fail "snippets_test.sh"
  fi
  stop_activated
fi

step "upgrade and reinstall keep the edited files and the archive"
echo "# edited by the package test" >>"$LIB/dorvana.def"
if [ "$SNIPPETS" = 1 ]; then
  echo "# edited by the package test" >>/etc/dorvana/nginx-allow.conf
fi
archive() { (cd "$LIB/Orders" && find . -type f -print0 | sort -z | xargs -0 -r md5sum); }
archive >"$T/archive-before"
check "the archive holds the order's copy" "$(awk 'END { print (NR >= 1) }' "$T/archive-before")" 1
kept() {
  check "$1: the settings file kept" "$(tail -1 "$LIB/dorvana.def") $(stat -c '%a %U %G' "$LIB/dorvana.def")" \
    "# edited by the package test 640 root www-data"
  if [ "$SNIPPETS" = 1 ]; then
    check "$1: the allow-list kept" "$(tail -1 /etc/dorvana/nginx-allow.conf)" "# edited by the package test"
  fi
  check "$1: the archive kept" "$(archive)" "$(cat "$T/archive-before")"
}
out=$(dpkg_do -i "$DEB2") || { echo "$out"; fail "upgrade with dpkg"; }
check "upgrade: the new version" "$(dpkg-query -W -f='${Version}' dorvana)" "$V+1"
check "upgrade: says who keeps the old program" "$(grep -c 'keep the old program until that server reloads' <<<"$out")" 1
check "upgrade: asked nothing" "$(grep -c "Configuration file" <<<"$out")" 0
kept upgrade
out=$(apt_do install --reinstall "$DEB2") || { echo "$out"; fail "reinstall with apt"; }
kept reinstall

step "remove, install with apt, purge"
out=$(dpkg_do -r dorvana) || { echo "$out"; fail "dpkg -r"; }
for f in "$LIB/dorvana" /usr/sbin/dorvana /usr/share/man/man8/dorvana.8.gz /usr/share/dorvana \
  /lib/systemd/system/dorvana.socket /lib/systemd/system/dorvana.service; do
  [ ! -e "$f" ] || fail "remove: $f left"
done
check "remove: the settings file stays, and says so" \
  "$([ -f "$LIB/dorvana.def" ] && echo yes) $(grep -c 'database password' <<<"$out")" "yes 1"
out=$(apt_do install "$DEB") || { echo "$out"; fail "apt-get install ./dorvana_${V}_amd64.deb"; }
check "apt: installed" "$(dpkg-query -W -f='${Status} ${Version}' dorvana)" "install ok installed $V"
kept "install after remove"
# Enabled snippets: purge must take the links away, or Apache and lighttpd stop
# starting (each enabled in turn, as only one of a server's may be).
links=()
if [ "$SNIPPETS" = 1 ]; then
  if command -v a2enconf >/dev/null; then
    a2enconf -q dorvana-fastcgi >/dev/null && links+=(/etc/apache2/conf-enabled/dorvana-fastcgi.conf)
  fi
  if command -v lighty-enable-mod >/dev/null; then
    lighty-enable-mod dorvana-cgi >/dev/null && links+=(/etc/lighttpd/conf-enabled/50-dorvana-cgi.conf)
  fi
fi
out=$(dpkg_do -P dorvana) || { echo "$out"; fail "dpkg -P"; }
check "purge: not installed" "$(state)" ""
check "purge: the settings file removed, and says so" \
  "$([ -e "$LIB/dorvana.def" ] || echo gone) $(grep -c 'removed the settings file' <<<"$out")" "gone 1"
check "purge: the archive kept, and says so" \
  "$(archive | wc -l) $(grep -c 'kept the archive' <<<"$out")" "$(wc -l <"$T/archive-before") 1"
check "purge: nothing else left of the package" \
  "$(find "$LIB" /etc/dorvana /usr/share/doc/dorvana /etc/systemd /var/lib/systemd/deb-systemd-helper-enabled \
    -not -path "$LIB/Orders*" \( -path "$LIB" -o -name '*dorvana*' \) 2>/dev/null)" "$LIB"
for link in "${links[@]}"; do
  [ ! -L "$link" ] || fail "purge: $link left"
done
[ "${#links[@]}" = 0 ] || pass "purge: the enabling links removed (${#links[@]})"

echo "package test: $SECONDS s"
finish
