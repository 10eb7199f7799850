#!/bin/bash
# dorvana --check against a good installation and broken ones (a wrong password,
# a database lacking a procedure and the uniqueness rule, no settings file, no
# client library, a filling archive, a full disk): each finding one line, with the text a
# terminal gets, and the exit code. Then a request naming the option, through
# Apache, which passes a query without "=" as arguments: answered as a request.
. "$(dirname "$0")/service_env.sh" "$1"

DB2FILE=$WORK/db/noproc.fdb
DB2=127.0.0.1:$DB2FILE
drop_db2() {
  printf "connect '%s';\ndrop database;\n" "$DB2" |
    isql-fb -q -user "$DB_USER" -password "$DB_PASSWORD" >/dev/null 2>&1 || true
}
e2e_at_exit drop_db2
"$E2E_ROOT/scripts/demo-db.sh" "$DB2" >/dev/null
rule=$(printf "connect '%s';\nset heading off;\nselect rdb\$constraint_name from rdb\$relation_constraints where rdb\$relation_name = 'RESTAURANT_IMPORTEDORDERS' and rdb\$constraint_type = 'UNIQUE';\n" "$DB2" |
  isql-fb -q -user "$DB_USER" -password "$DB_PASSWORD" | tr -d ' \r' | grep -v '^$')
printf "connect '%s';\ndrop procedure restaurant_importorders;\nalter table Restaurant_ImportedOrders drop constraint %s;\ncommit;\n" "$DB2" "$rule" |
  isql-fb -q -user "$DB_USER" -password "$DB_PASSWORD"

# tool DIR ARGS...: the program run by hand in DIR without CGI variables; output
# in $E2E_OUT/out; prints the exit code and "|".
tool() {
  local dir=$1 rc=0
  shift
  (cd "$dir" && env -i PATH="$PATH" "$E2E_PROGRAM" "$@" >"$E2E_OUT/out" 2>&1) || rc=$?
  printf '%s|' "$rc"
}
has() {  # has NAME TEXT: the output holds the line TEXT
  if grep -q -x -F -- "$2" "$E2E_OUT/out"; then pass "$1"; else
    fail "$1"
    echo "  no line: $2"
    sed 's/^/  | /' "$E2E_OUT/out"
  fi
}
one_line() { tr '\r\n' '  ' | sed 's/ *$//'; }

# ---- a good installation ---------------------------------------------------------------
new_site good "$(settings_for "$DB")"
check "good: exit code" "$(tool "$WORK/good" --check)" "0|"
has "good: the settings file" "settings file: $WORK/good/dorvana.def"
has "good: the password masked" "  PASSWORD=********"
check "good: the password never shown" "$(grep -c "PASSWORD=$DB_PASSWORD" "$E2E_OUT/out")" 0
grep -q '^client library: libfbclient.so.2, version ' "$E2E_OUT/out" && pass "good: client library" ||
  fail "good: client library"
grep -q '^server version: [0-9]' "$E2E_OUT/out" && pass "good: server version" || fail "good: server version"
has "good: database" "database: $DB"
has "good: charset and dialect" "charset: database WIN1251, connection WIN1251; dialect: database 1, connection 1"
has "good: every statement prepared" "statements: 7 of 7 prepared"
grep -q '^uniqueness rule on Restaurant_ImportedOrders.guid: ' "$E2E_OUT/out" && pass "good: uniqueness rule" ||
  fail "good: uniqueness rule"
has "good: last line" "all is well"
check "good: no problem or warning line" "$(grep -c -E '^(problem|warning):' "$E2E_OUT/out")" 0

# ---- a wrong password: the terminal's own text ---------------------------------------------
new_site wrongpw "$(printf 'SERVER NAME=%s\r\nUSER NAME=%s\r\nPASSWORD=wrong\r\n' "$DB" "$DB_USER")"
fetch "$URL_wrongpw?q=getsprstewards" >/dev/null
terminal=$(one_line <"$E2E_OUT/body")
check "wrong password: exit code" "$(tool "$WORK/wrongpw" --check)" "1|"
has "wrong password: the terminal's text" "problem: connect: $terminal"
has "wrong password: last line" "1 problem(s): terminals will fail"

# ---- a database lacking a procedure and the uniqueness rule ----------------------------------
new_site noproc "$(settings_for "$DB2")"
cat >"$WORK/order.xml" <<'XML'
<ORDER><GUID>c-1</GUID><DEVICEID>D</DEVICEID><PIN>1001</PIN><TABLE>1</TABLE><FOODS></FOODS></ORDER>
XML
fetch "$URL_noproc?q=addorder" --data-binary "@$WORK/order.xml" >/dev/null
terminal=$(one_line <"$E2E_OUT/body")
check "no procedure: exit code" "$(tool "$WORK/noproc" --check)" "1|"
has "no procedure: the terminal's text" \
  "problem: addorder: $terminal [in: execute procedure restaurant_importorders(:guid)]"
has "no procedure: the other statements prepare" "statements: 6 of 7 prepared"
grep -q -x 'warning: no uniqueness rule on Restaurant_ImportedOrders.guid: .*' "$E2E_OUT/out" &&
  pass "no uniqueness rule: warning" || fail "no uniqueness rule: warning"

# ---- no settings file ----------------------------------------------------------------------
mkdir -p "$WORK/nosettings"
check "no settings file: exit code" "$(tool "$WORK/nosettings" --check)" "1|"
has "no settings file: line" \
  "problem: connect: No settings file (a file named *.def) in the working folder $WORK/nosettings: a request there has no database to connect to."

# ---- no client library -------------------------------------------------------------------------
# The library file is hidden behind an empty one in a mount namespace of its own.
lib=$(ldconfig -p | awk '/libfbclient\.so\.2 / { print $NF; exit }')
if [ "$(id -u)" = 0 ] && [ -n "$lib" ] && unshare -m true 2>/dev/null; then
  : >"$WORK/empty.so"
  rc=0
  (cd "$WORK/good" && env -i PATH="$PATH" unshare -m sh -c 'mount --bind "$0" "$1" && exec "$2" --check' \
    "$WORK/empty.so" "$(readlink -f "$lib")" "$E2E_PROGRAM" >"$E2E_OUT/out" 2>&1) || rc=$?
  check "no client library: exit code" "$rc" 1
  has "no client library: the terminal's text" "problem: connect: Can't load library fbclient.dll"
  grep -q -x 'client library: libfbclient\.so\.2 cannot be loaded: .*libfbclient\.so\.2.*' "$E2E_OUT/out" &&
    pass "no client library: the file and the loader's reason" || fail "no client library: reason"
else
  echo "skipped: no client library (needs root and mount namespaces)"
fi

# ---- an archive filling up ----------------------------------------------------------------
mkdir -p "$WORK/good/Orders"
(cd "$WORK/good/Orders" && seq 0 49999 | sed 's/.*/order &.xml/' | tr '\n' '\0' | xargs -0 touch)
check "archive half full: exit code (warnings only)" "$(tool "$WORK/good" --check)" "2|"
has "archive half full: warning" \
  "warning: the archive folder holds 50000 copies, 50% of its 100000 names: run dorvana --rotate (daily) before it fills"
has "archive half full: the copies by state" "archive copies in Orders: 0 imported, 0 missing, 50000 refused"
has "archive half full: the refused copies named" \
  "warning: 50000 refused copies in Orders: posts that can never become orders (a faulty terminal, or posts from outside the terminals' network); dorvana --rotate moves them into Orders/refused"
rm -rf "$WORK/good/Orders"
mkdir -p "$WORK/good/Orders"
touch "$WORK/good/Orders/order 12345678.xml"
check "the wider range in use: exit code (warnings only)" "$(tool "$WORK/good" --check)" "2|"
has "the wider range in use: warning" \
  "warning: the archive folder holds 1 copies named from the wider range (100000 to 99999999): its usual names were crowded when they were written; run dorvana --rotate"
rm -rf "$WORK/good/Orders"
# A file system with less room than the largest copy: a small one mounted on
# Orders in a mount namespace of its own.
mkdir -p "$WORK/good/Orders"
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  rc=0
  (cd "$WORK/good" && env -i PATH="$PATH" unshare -m sh -c 'mount -t tmpfs -o size=8m tmpfs Orders && exec "$0" --check' \
    "$E2E_PROGRAM" >"$E2E_OUT/out" 2>&1) || rc=$?
  check "archive disk full: exit code" "$rc" 1
  check "archive disk full: one problem line naming the cause" \
    "$(grep '^problem:' "$E2E_OUT/out" | sed 's/: [0-9]* bytes free/: N bytes free/')" \
    "problem: archive folder $WORK/good/Orders: N bytes free on its file system, less than the largest copy (33554434 bytes): orders fail"
else
  echo "skipped: archive disk full (needs root and mount namespaces)"
fi
rm -rf "$WORK/good/Orders"

# ---- the command line ------------------------------------------------------------------------
check "an extra argument" "$(tool "$WORK/good" --check now)" "64|"
for option in --check --orders --replay --rotate; do
  rc=$(tool "$WORK/good" "$option" --help)
  check "$option --help" "$rc$(head -1 "$E2E_OUT/out" | cut -d' ' -f1-3)" "0|Usage: dorvana $option"
done
check "--help" "$(tool "$WORK/good" --help)$(head -1 "$E2E_OUT/out")" \
  "0|Usage: dorvana OPTION [ARGUMENTS]   (run in the program's working folder)"
# A CGI variable makes any argument a request's: nothing about the installation.
(cd "$WORK/good" && env -i GATEWAY_INTERFACE=CGI/1.1 QUERY_STRING=--check "$E2E_PROGRAM" --check >"$E2E_OUT/out" 2>&1) || true
check "CGI variable: no installation details" "$(grep -c -E 'settings file|PASSWORD|all is well' "$E2E_OUT/out")" 0

# ---- through Apache: GET /dorvana?--check is a request --------------------------------------------
if command -v apache2 >/dev/null || [ -x /usr/sbin/apache2 ]; then
  WEB=apache
  new_site viaapache "$(settings_for "$DB")"
  for q in --check --orders "--replay+--all-missing" --rotate --help; do
    code=$(fetch "$URL_viaapache?$q")
    cp "$E2E_OUT/body" "$E2E_OUT/asked"
    fetch "$URL_viaapache?q=nothing" >/dev/null
    if [ "$code" = 200 ] && cmp -s "$E2E_OUT/asked" "$E2E_OUT/body" &&
      ! grep -a -q -E 'settings file|PASSWORD|Usage: dorvana|copies' "$E2E_OUT/asked"; then
      pass "apache ?$q: answered as a request"
    else
      fail "apache ?$q: status $code"
      head -c 400 "$E2E_OUT/asked"
    fi
  done
  check "apache: nothing replayed or rotated" "$(ls "$WORK/viaapache/Orders" 2>/dev/null | wc -l)" 0
  # A failure's line reaches Apache's error log.
  fetch "$URL_viaapache?q=addorder" >/dev/null
  grep -a -q 'addorder: failure from 127.0.0.1: No root element found in xml' "$WORK/viaapache/.apache/error.log" &&
    pass "apache: the failure line in the error log" || fail "apache: the failure line in the error log"
else
  echo "skipped: Apache is not installed"
fi

# ---- through nginx and fcgiwrap: the failure line in nginx's error log ---------------------
if command -v nginx >/dev/null || [ -x /usr/sbin/nginx ]; then
  WEB=nginx
  new_site vianginx "$(settings_for "$DB")"
  fetch "$URL_vianginx?q=addorder" >/dev/null
  grep -a -q 'addorder: failure from 127.0.0.1: No root element found in xml' "$WORK/vianginx/.nginx/error.log" &&
    pass "nginx: the failure line in the error log" || fail "nginx: the failure line in the error log"
else
  echo "skipped: nginx is not installed"
fi

finish
