#!/usr/bin/env bash
# The Windows pass: the cross-built program and unit test programs (from
# scripts/build-windows --tests) run under wine.
#
#   tests/windows/run.sh [BUILD-WIN-DIR]      default build-win/
#
# 1. The unit test programs that need no database server: each program's tests in
#    one process, and when one fails every test in a process of its own, as ctest
#    runs them on Linux. Left out, with the reason:
#      FIBQueryDb.*, EmbeddedSessionTest.*,
#      ClientLibrary.RealLibraryBindsEverythingItExports,
#      ClientLibrary.CounterCountsForwardedCallsAndPutsTheEntriesBack
#                                            need a Firebird client for Windows
#      ArchiveScan.ListsTheFolderAndItsDatedSubfoldersWithoutLinks   makes
#                                            symbolic links, which wine lacks
#      Archive.AFailedWriteLeavesNoFile      Windows has no file size limit
#    service_scripted_tests finds the scripted client library (fbclient.dll) on
#    the search path (WINEPATH).
# 2. The end-to-end golden answers of the front end and of SOAP and WSDL: the .exe
#    run directly as a CGI program must give the bytes the Linux program gives
#    (the cases of tests/e2e/*_test.sh run directly, taken from there).
# 3. A settings file naming a database, with no fbclient.dll anywhere: the exact
#    load failure answer. Binary standard input and output. The regional settings
#    of a user locale with a comma decimal mark.
# 4. The scripted client library cross-built as fbclient.dll beside a copy of the
#    program: a list and an order through the database path, the same bytes as
#    the Linux program gives with the same script.
# 5. The forwarding client library (tests/windows/fbforward) as fbclient.dll
#    beside a copy of the program, against the local Firebird server (started
#    when none runs): the lists, orders, connect failures and the operators'
#    tools, the same bytes as the Linux program build/dorvana gives
#    (tests/windows/db.sh).
#    Then FastCGI (tests/windows/fastcgi.sh): the program started as IIS starts
#    it, by tests/windows/launcher, through one process each: the golden answers
#    twice, the lists and an order, a shutdown in flight, 10,000 requests.
# 6. The package dorvana-VERSION-win64.zip made from the built program.
#
# The Wine prefix lives in BUILD-WIN-DIR/wineprefix (made on first use, ~10 s).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
OUT=$(cd "${1:-$ROOT/build-win}" && pwd)
export WINEPREFIX=${WINEPREFIX:-$OUT/wineprefix}
export WINEDEBUG=-all
WINE=$(command -v wine)
SCRATCH=$(mktemp -d /tmp/dorvana-win.XXXXXX)
# shellcheck source=../../tests/windows/wineserver.sh
source "$ROOT/tests/windows/wineserver.sh"
# The end-to-end harness's reporting (pass, fail, check, finish) and its
# clean-up at the exit; ok is pass under the name db.sh uses.
# shellcheck source=../../tests/e2e/harness.sh
source "$ROOT/tests/e2e/harness.sh" "$OUT/dorvana.exe"
cleanup() {
  if declare -F db_cleanup >/dev/null; then db_cleanup; fi
  wine_server_stop
  rm -rf "$SCRATCH"
}
e2e_at_exit cleanup
ok() { pass "$1"; }

START=$SECONDS

# One wine server for the whole pass.
wine_server_start

# ---- 1. Unit tests ------------------------------------------------------------------
EXCLUDED=FIBQueryDb.*:EmbeddedSessionTest.*:ClientLibrary.RealLibraryBindsEverythingItExports
EXCLUDED+=:ClientLibrary.CounterCountsForwardedCallsAndPutsTheEntriesBack
EXCLUDED+=:Archive.AFailedWriteLeavesNoFile:ArchiveScan.ListsTheFolderAndItsDatedSubfoldersWithoutLinks
for program in runtime/runtime_tests platform/platform_tests cgi/cgi_tests xml/xml_tests \
  soap/soap_tests service/unit1_tests service/service_tests fb/fb_tests \
  service/service_scripted_tests; do
  exe=$OUT/tests/$program.exe
  if [ ! -f "$exe" ]; then fail "$program: not built"; continue; fi
  # The scripted client library, fbclient.dll, is found on the search path.
  RUN=("$WINE")
  if [ "$program" = service/service_scripted_tests ]; then
    RUN=(env "WINEPATH=$OUT/tests/fakes/scripted" "$WINE")
  fi
  tests=$("$WINE" "$exe" --gtest_list_tests "--gtest_filter=-$EXCLUDED" 2>/dev/null | tr -d '\r' |
    awk '/^[^ ]/ { suite = $1 } /^  [^ ]/ { print suite $1 }')
  count=$(wc -w <<<"$tests")
  if [ "$count" = 0 ]; then fail "$program: lists no tests"; continue; fi
  # All of a program's tests in one process first (a wine start costs a few
  # tenths of a second): when every one passes, that is the result. Otherwise
  # each runs again in a process of its own, as ctest runs them on Linux, and
  # those runs decide and name the failures.
  rc=0
  (cd "$SCRATCH" && timeout 600 "${RUN[@]}" "$exe" "--gtest_filter=-$EXCLUDED" >"$SCRATCH/log" 2>&1) || rc=$?
  if [ "$rc" = 0 ] && tr -d '\r' <"$SCRATCH/log" | grep -q "^\[  PASSED  \] $count tests\?\.$"; then
    E2E_PASSED=$((E2E_PASSED + count))
    continue
  fi
  echo "note $program: $count tests in one process: exit code $rc; each again on its own"
  for t in $tests; do
    rc=0
    (cd "$SCRATCH" && timeout 120 "${RUN[@]}" "$exe" "--gtest_filter=$t" >"$SCRATCH/log" 2>&1) || rc=$?
    if [ "$rc" != 0 ] && [ ! -s "$SCRATCH/log" ]; then
      # Not one line of output: the program never started (wine, on a loaded
      # machine, once in a few hundred starts). Its test gets one more start.
      echo "note $program $t: no output (exit code $rc), started again"
      rc=0
      (cd "$SCRATCH" && timeout 120 "${RUN[@]}" "$exe" "--gtest_filter=$t" >"$SCRATCH/log" 2>&1) || rc=$?
    fi
    if [ "$rc" = 0 ]; then
      E2E_PASSED=$((E2E_PASSED + 1))
    else
      fail "$program $t (exit code $rc)"
      tail -20 "$SCRATCH/log"
    fi
  done
done
echo "unit tests: $E2E_PASSED passed, $E2E_FAILED failed ($((SECONDS - START)) s)"

# ---- 2. Golden answers, run directly ----------------------------------------------------
# The harness runs "the program" with only the CGI variables; this stand-in hands
# them to the .exe under wine.
cat >"$SCRATCH/dorvana" <<EOF
#!/bin/sh
exec env WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all HOME='$HOME' PATH=/usr/bin:/bin '$WINE' '$OUT/dorvana.exe'
EOF
chmod +x "$SCRATCH/dorvana"
for script in frontend_test.sh soap_test.sh; do
  # The direct cases of each end-to-end script: its lines after it sources the
  # harness up to the comment that starts the cases through a web server
  # ("# Through the web server..."), run against the .exe.
  cases=$(sed -n '/^source .*harness.sh/,/^# Through /p' "$ROOT/tests/e2e/$script" | sed 1d)
  if ! grep -q '^# Through ' <<<"$cases" || ! grep -q 'direct ' <<<"$cases"; then
    fail "$script: no direct cases found"
    continue
  fi
  # A case piped into "direct" runs in a subshell whose count is lost: the
  # printed FAIL lines are counted instead.
  (set +e; source "$ROOT/tests/e2e/harness.sh" "$SCRATCH/dorvana"; eval "$cases"; finish) \
    >"$SCRATCH/golden.log" 2>&1 || true
  if grep -q '^ok ' "$SCRATCH/golden.log" && ! grep -q '^FAIL' "$SCRATCH/golden.log"; then
    ok "golden answers of $script ($(grep -c '^ok ' "$SCRATCH/golden.log") cases)"
  else
    fail "golden answers of $script"
    grep -v '^ok' "$SCRATCH/golden.log" | head -40
  fi
done

# ---- 3. Load failure, binary input and output, regional settings -------------------------
run_cgi() {  # run_cgi DIR OUTPUT VAR=value... (body on standard input)
  local dir=$1 output=$2
  shift 2
  (cd "$dir" && env -i "$@" "$SCRATCH/dorvana" >"$output")
}

WORK=$SCRATCH/work
mkdir -p "$WORK"
printf 'SERVER NAME=127.0.0.1:/srv/db/dorvana.fdb\r\nUSER NAME=SYSDBA\r\nPASSWORD=x\r\n' >"$WORK/dorvana.def"
run_cgi "$WORK" "$SCRATCH/noclient" SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET \
  'QUERY_STRING=q=getsprstewards' </dev/null
body=$(sed -e '1,/^\r$/d' "$SCRATCH/noclient")
if [ "$body" = "Can't load library fbclient.dll " ] && grep -q $'^Content-Type: text/plain\r$' "$SCRATCH/noclient"; then
  ok "no fbclient.dll: the load failure text"
else
  fail "no fbclient.dll: the load failure text"
  od -c "$SCRATCH/noclient" | tail -5
fi
rm -f "$WORK/dorvana.def"

# Every byte value but the ones form decoding acts on ("%", "&", "+"), CR LF and
# Ctrl-Z among them, goes in through standard input and out again as on Linux.
printf 'b=' >"$SCRATCH/body"
for i in $(seq 1 255); do
  case $i in 37 | 38 | 43) continue ;; esac
  printf "\\x$(printf %02x "$i")" >>"$SCRATCH/body"
done
printf '\r\n\r\n\x1a\n' >>"$SCRATCH/body"
len=$(stat -c %s "$SCRATCH/body")
run_cgi "$WORK" "$SCRATCH/binary" SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST \
  'QUERY_STRING=q=test' CONTENT_TYPE=application/octet-stream "CONTENT_LENGTH=$len" <"$SCRATCH/body"
if [ -x "$ROOT/build/dorvana" ]; then
  (cd "$WORK" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST 'QUERY_STRING=q=test' \
    CONTENT_TYPE=application/octet-stream "CONTENT_LENGTH=$len" "$ROOT/build/dorvana" \
    <"$SCRATCH/body" >"$SCRATCH/binary.linux")
  if cmp -s "$SCRATCH/binary" "$SCRATCH/binary.linux"; then
    ok "binary body: same bytes as on Linux"
  else
    fail "binary body: same bytes as on Linux"
    cmp "$SCRATCH/binary" "$SCRATCH/binary.linux" || true
  fi
else
  echo "skip binary body: no Linux program build/dorvana to compare with"
fi

# Envelopes that declare windows-1251: this libxml2 has no converter of its own,
# the program's table decodes them (soap/Cp1251Encoding.cpp); the undefined byte
# 0x98 is refused as on Linux.
envelope() {  # envelope NAME VALUE-BYTES EXPECTED-FAULTSTRING
  local name=$1 value=$2 expected=$3 file=$SCRATCH/$1.xml
  printf '<?xml version="1.0" encoding="windows-1251"?>\n<e:Envelope xmlns:e="http://schemas.xmlsoap.org/soap/envelope/"><e:Body><m:echoDouble xmlns:m="urn:SoapTestIntf-ISoapTest"><Value>%b</Value></m:echoDouble></e:Body></e:Envelope>' \
    "$value" >"$file"
  local vars=(SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST PATH_INFO=/soap
              "CONTENT_LENGTH=$(stat -c %s "$file")" 'HTTP_SOAPACTION="urn:SoapTestIntf-ISoapTest#echoDouble"')
  run_cgi "$WORK" "$SCRATCH/$name.out" "${vars[@]}" <"$file" 2>/dev/null
  if grep -a -q -F "<faultstring>$expected</faultstring>" "$SCRATCH/$name.out"; then
    ok "$name: $expected"
  else
    fail "$name: $expected"
    grep -a -o '<faultstring>.*</faultstring>' "$SCRATCH/$name.out" || head -c 300 "$SCRATCH/$name.out"
  fi
  if [ -x "$ROOT/build/dorvana" ]; then
    (cd "$WORK" && env -i "${vars[@]}" "$ROOT/build/dorvana" <"$file" >"$SCRATCH/$name.linux" 2>/dev/null)
    if cmp -s "$SCRATCH/$name.out" "$SCRATCH/$name.linux"; then ok "$name: same bytes as on Linux"
    else fail "$name: same bytes as on Linux"; fi
  fi
}
envelope cp1251_text '\xcf\xe5\xf2\xf0\xee\xe2 \xb9 \xc0\xff' \
  "Value: 'Петров № Ая' is not a valid double"
envelope cp1251_undefined_byte '\xcf\xe5\x98' \
  'Invalid SOAP envelope: Premature end of data in tag Value line 2 (line 2)'

# A user locale with a comma decimal mark, day.month.year and a 24-hour clock, in
# a prefix of its own (the registry values of Control Panel, Region).
REGIONAL_PREFIX=$SCRATCH/prefix-regional
cp -a "$WINEPREFIX" "$REGIONAL_PREFIX"
WINEPREFIX=$REGIONAL_PREFIX "$WINE" reg add 'HKCU\Control Panel\International' /v sDecimal /d , /f >/dev/null 2>&1
WINEPREFIX=$REGIONAL_PREFIX "$WINE" reg add 'HKCU\Control Panel\International' /v sShortDate /d dd.MM.yyyy /f >/dev/null 2>&1
WINEPREFIX=$REGIONAL_PREFIX "$WINE" reg add 'HKCU\Control Panel\International' /v sTimeFormat /d "H:mm:ss" /f >/dev/null 2>&1
if (cd "$SCRATCH" && WINEPREFIX=$REGIONAL_PREFIX DORVANA_EXPECT_DECIMAL_MARK=, \
  DORVANA_EXPECT_SHORT_DATE=dd.mm.yyyy DORVANA_EXPECT_LONG_TIME=h:nn:ss \
  "$WINE" "$OUT/tests/platform/platform_tests.exe" --gtest_filter='PlatformRegional.*' >"$SCRATCH/log" 2>&1); then
  ok "regional settings: comma decimal mark, dd.mm.yyyy, h:nn:ss"
else
  fail "regional settings: comma decimal mark, dd.mm.yyyy, h:nn:ss"
  tail -20 "$SCRATCH/log"
fi
# Its wine server ends by itself a few seconds after its last program.
WINEPREFIX=$REGIONAL_PREFIX wineserver -w 2>/dev/null || true

# ---- 4. The database path through the scripted client library ---------------------
# tests/fakes/ScriptedClient.c cross-built as fbclient.dll, beside a copy of the
# program in a folder laid out as on a server (program, client library, settings
# file, Orders): the program binds the library by that name, and a list and an
# order go through attach, transactions, prepare, describe, execute and fetch.
# The answers, the archive copy and the calls the library logged must be the
# expected ones and the same bytes as the Linux program gives against the Linux
# build of the same library and script.
SCRIPTED_DLL=$OUT/tests/fakes/scripted/fbclient.dll
LINUX_SCRIPTED=$ROOT/build/tests/fakes/scripted
SITE=$SCRATCH/site
LINUX_SITE=$SCRATCH/site-linux
site_request() {  # site_request DIR OUTPUT WINE|LINUX VAR=value... (body on standard input)
  local dir=$1 output=$2 system=$3
  shift 3
  if [ "$system" = wine ]; then
    (cd "$dir" && env -i "$@" WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all HOME="$HOME" PATH=/usr/bin:/bin \
      "$WINE" "$dir/dorvana.exe" >"$output")
  else
    (cd "$dir" && env -i "$@" LD_LIBRARY_PATH="$LINUX_SCRIPTED" "$ROOT/build/dorvana" >"$output")
  fi
}
# site_case NAME SCRIPT EXPECTED-BODY EXPECTED-CALLS VAR=value... (body on standard input):
# one request in a fresh folder with that script, on Windows and, when built, on Linux.
site_case() {
  local name=$1 script=$2 body=$3 calls=$4
  shift 4
  local input=$SCRATCH/$name.in
  cat >"$input"
  rm -rf "$SITE" "$LINUX_SITE"
  mkdir -p "$SITE"
  cp "$OUT/dorvana.exe" "$SCRIPTED_DLL" "$SITE/"
  printf 'SERVER NAME=scripted.fdb\r\nUSER NAME=U\r\nPASSWORD=P\r\n' >"$SITE/dorvana.def"
  printf 'log calls.log\non CAST('"'"'NOW'"'"'\ncolumn CAST timestamp\nrow 60018 0\n%s' "$script" \
    >"$SITE/scripted_client.txt"
  cp -a "$SITE" "$LINUX_SITE"
  site_request "$SITE" "$SCRATCH/$name.out" wine "$@" <"$input"
  local got
  got=$(sed -e '1,/^\r$/d' "$SCRATCH/$name.out"; echo .)
  if [ "${got%.}" = "$body" ]; then ok "scripted fbclient.dll, $name: the answer"
  else fail "scripted fbclient.dll, $name: the answer"; od -c "$SCRATCH/$name.out" | head -20; fi
  if [ "$(tr -d '\r' <"$SITE/calls.log" 2>/dev/null | paste -sd/ | sed 's|/| / |g')" = "$calls" ]; then
    ok "scripted fbclient.dll, $name: the library's calls"
  else
    fail "scripted fbclient.dll, $name: the library's calls"
    cat "$SITE/calls.log" 2>/dev/null || echo "(no calls.log: the library was not loaded)"
  fi
  if [ ! -x "$ROOT/build/dorvana" ] || [ ! -f "$LINUX_SCRIPTED/libfbclient.so.2" ]; then
    echo "skip scripted $name on Linux: build/dorvana or the scripted library not built"
    return 0
  fi
  rm -f "$LINUX_SITE/dorvana.exe" "$LINUX_SITE/fbclient.dll"
  site_request "$LINUX_SITE" "$SCRATCH/$name.linux" linux "$@" <"$input"
  if cmp -s "$SCRATCH/$name.out" "$SCRATCH/$name.linux" && cmp -s "$SITE/calls.log" "$LINUX_SITE/calls.log"
  then ok "scripted fbclient.dll, $name: same answer and calls as on Linux"
  else
    fail "scripted fbclient.dll, $name: same answer and calls as on Linux"
    cmp "$SCRATCH/$name.out" "$SCRATCH/$name.linux" || true
    diff "$SITE/calls.log" "$LINUX_SITE/calls.log" || true
  fi
}

if [ ! -f "$SCRIPTED_DLL" ]; then
  fail "scripted fbclient.dll: not built"
else
  # A list: a NULL and text to escape among the values fetched.
  site_case stewards $'on RESTAURANT_WAITERS\ncolumn CODE varchar 20\ncolumn NAME varchar 60\nrow 1005 |  Volkova  \nrow \\N|Kim & <Li>\nrow 7|\n' \
    "<?xml version='1.0' encoding='Utf-8' standalone='yes' ?>"$'\r<stewards>\r<steward><pin>1005</pin>Volkova</steward>\r<steward><pin></pin>Kim &amp; &lt;Li&gt;</steward>\r<steward><pin>7</pin></steward>\r</stewards>' \
    'attach / start nowait / execute 0 / commit / start nowait / execute 1 / commit / detach' \
    SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET 'QUERY_STRING=q=getsprstewards' </dev/null

  # An order of two rows, stored: the duplicate check finds none, the header, both
  # rows and the import procedure run in one transaction that commits. Its archive
  # copy holds the posted bytes.
  ORDER="<?xml version='1.0' encoding='windows-1251'?>"$'\n<ORDER>\n<GUID>w-1</GUID>\n'
  ORDER+=$'<DEVICEID>HALL-1</DEVICEID>\n<PIN>1001</PIN>\n<TABLE>5</TABLE>\n<FOODS>\n'
  ORDER+=$'<food>301<count>2</count><weight>0</weight><isModificator>no</isModificator></food>\n'
  ORDER+=$'<food>17<count>1</count><weight>250</weight><isModificator>yes</isModificator></food>\n'
  ORDER+=$'</FOODS>\n</ORDER>\n'
  ORDER_SCRIPT=$'on select count(id)\nparam varchar 100\ncolumn CNT int\nrow 0\n'
  ORDER_SCRIPT+=$'on Restaurant_ImportedOrders (id\ntype insert\nparam varchar 100\nparam varchar 100\nparam varchar 100\nparam int\n'
  ORDER_SCRIPT+=$'on Restaurant_ImportedOrderRows (id\ntype insert\nparam varchar 100\nparam int\nparam int\nparam int\nparam int\n'
  ORDER_SCRIPT+=$'on restaurant_importorders(\ntype exec\nparam varchar 100\n'
  printf '%s' "$ORDER" |
    site_case order "$ORDER_SCRIPT" ok \
      'attach / start nowait / execute 0 / commit / start nowait / execute 1 / commit / start nowait / execute 2 / execute 3 / execute 3 / execute 4 / commit / detach' \
      SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST 'QUERY_STRING=q=addorder' \
      CONTENT_TYPE=application/x-www-form-urlencoded "CONTENT_LENGTH=${#ORDER}"
  # The copy holds the posted text (its lines ended by CR LF, as on Linux).
  copies=("$SITE"/Orders/order*.xml)
  if [ "${#copies[@]}" = 1 ] && [ -f "${copies[0]}" ] &&
    [ "$(tr -d '\r' <"${copies[0]}")" = "$(printf '%s' "$ORDER" | tr -d '\r')" ]; then
    ok "scripted fbclient.dll, order: one archive copy with the posted text"
  else
    fail "scripted fbclient.dll, order: one archive copy with the posted text"
    ls -l "$SITE/Orders" 2>&1 || true
  fi
  linux_copies=("$LINUX_SITE"/Orders/order*.xml)
  if [ -f "${linux_copies[0]}" ]; then
    if cmp -s "${copies[0]}" "${linux_copies[0]}"; then ok "scripted fbclient.dll, order: same archive bytes as on Linux"
    else fail "scripted fbclient.dll, order: same archive bytes as on Linux"; fi
  fi
fi

# ---- 5. The database path against the Firebird server ----------------------------
# The forwarding fbclient.dll (built here, a few seconds, again only when its
# sources or the entry-point table change) beside the program: tests/windows/db.sh.
DB_START=$SECONDS
if "$ROOT/tests/windows/fbforward/build.sh" "$OUT/tests/fbforward" 2>"$SCRATCH/fwd.log"; then
  # shellcheck source=db.sh
  source "$ROOT/tests/windows/db.sh"
else
  fail "the forwarding fbclient.dll: not built"
  cat "$SCRATCH/fwd.log"
fi
echo "database cases: $((SECONDS - DB_START)) s"

# ---- 5b. FastCGI as IIS runs it ---------------------------------------------------
# The program started by our launcher as IIS starts it (named pipe, shutdown
# event): the golden answers twice, the database, a shutdown in flight, 10,000
# requests with flat memory (tests/windows/fastcgi.sh).
FCGI_START=$SECONDS
# shellcheck source=fastcgi.sh
source "$ROOT/tests/windows/fastcgi.sh"
echo "FastCGI cases: $((SECONDS - FCGI_START)) s"

# ---- 6. The package -------------------------------------------------------------------
# deploy/windows/package.sh (what scripts/build-windows --package runs) from the
# built program: exactly the files an administrator installs, sums that verify,
# the program as built, and a settings file without a real password.
if zip=$("$ROOT/deploy/windows/package.sh" "$OUT/dorvana.exe" "$SCRATCH/dist" 2>&1); then
  name=$(basename "$zip" .zip)
  listed=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/"))))' "$zip")
  wanted=$(printf "$name/%s\n" INSTALL.txt SHA256SUMS dorvana.def.sample dorvana.exe iis/applicationHost.xml \
    iis/cgi/web.config iis/fastcgi/web.config iis/install.ps1)
  [ "$listed" = "$wanted" ] && ok "package $name.zip: its files" || { fail "package: its files"; echo "$listed"; }
  python3 -m zipfile -e "$zip" "$SCRATCH/unpacked"
  if (cd "$SCRATCH/unpacked/$name" && sha256sum --quiet -c SHA256SUMS) && cmp -s "$OUT/dorvana.exe" "$SCRATCH/unpacked/$name/dorvana.exe" &&
    grep -q $'^PASSWORD=change-me\r$' "$SCRATCH/unpacked/$name/dorvana.def.sample"; then
    ok "package: the sums verify, the program as built, the sample's placeholder password"
  else
    fail "package: the sums verify, the program as built, the sample's placeholder password"
  fi
else
  fail "package: not made"
  echo "$zip"
fi

echo "Windows pass: $((SECONDS - START)) s"
finish
