# shellcheck shell=bash
# The database cases of the Windows pass, sourced by tests/windows/run.sh (which
# gives OUT, WINE, WINEPREFIX, REGIONAL_PREFIX, SCRATCH, ok and fail).
#
# dorvana.exe under wine with the forwarding fbclient.dll (tests/windows/fbforward)
# beside it reaches the local Firebird server through the Linux client library;
# every request goes to it and to the Linux program build/dorvana, each in a
# program folder of its own with the same settings, and the two answers must be
# the same bytes: the lists, orders and their failures, connect failures with
# the server's texts, and the operators' tools.

FWD_DLL=$OUT/tests/fbforward/fbclient.dll
LINUX=$ROOT/build/dorvana
# The server runs as user firebird: the databases' folder is one it may enter.
DBDIR=$(mktemp -d /tmp/dorvana-windb.XXXXXX)
chmod 777 "$DBDIR"
DB_USER=${DORVANA_DB_USER:-DORVANA}
DB_PASSWORD=${DORVANA_DB_PASSWORD:-dorvana}
DB=127.0.0.1:$DBDIR/demo.fdb
TRIGGER_DB=127.0.0.1:$DBDIR/closed.fdb

db_isql() {  # db_isql DATABASE [isql options]: the statements on standard input
  local db=$1
  shift
  { printf "set names UTF8;\nconnect '%s';\n" "$db"; cat; } |
    isql-fb -q -user "$DB_USER" -password "$DB_PASSWORD" "$@"
}
db_count() { printf 'set heading off;\n%s\n' "$1" | db_isql "$DB" | tr -d ' \n'; }
db_cleanup() {
  printf 'drop database;\n' | db_isql "$DB" >/dev/null 2>&1 || true
  printf 'drop database;\n' | db_isql "$TRIGGER_DB" -nodbtriggers >/dev/null 2>&1 || true
  rm -rf "$DBDIR"
}

# new_sites NAME SETTINGS: $SCRATCH/NAME.win (the .exe, the forwarder, the settings)
# and $SCRATCH/NAME.linux (the settings).
new_sites() {
  mkdir -p "$SCRATCH/$1.win" "$SCRATCH/$1.linux"
  cp "$OUT/dorvana.exe" "$FWD_DLL" "$SCRATCH/$1.win/"
  printf '%s' "$2" >"$SCRATCH/$1.win/dorvana.def"
  printf '%s' "$2" >"$SCRATCH/$1.linux/dorvana.def"
}
settings_for() { printf 'SERVER NAME=%s\r\nUSER NAME=%s\r\nPASSWORD=%s\r\n' "$1" "$2" "$3"; }

# run_both SITE NAME PREFIX [ARG... --] VAR=value... (input on standard input):
# one run of each program in its folder, standard output and the exit code kept
# in $SCRATCH/NAME.win.out and NAME.linux.out, standard error without its lines'
# time stamps after them.
run_both() {
  local site=$1 name=$2 prefix=$3 args=() input=$SCRATCH/$2.in
  shift 3
  if [[ " $* " == *" -- "* ]]; then
    while [ "$1" != -- ]; do args+=("$1"); shift; done
    shift
  fi
  cat >"$input"
  local rc=0
  (cd "$SCRATCH/$site.win" && env -i "$@" WINEPREFIX="$prefix" WINEDEBUG=-all HOME="$HOME" \
    PATH=/usr/bin:/bin "$WINE" ./dorvana.exe "${args[@]}" <"$input" >"$SCRATCH/$name.win.out" \
    2>"$SCRATCH/err") || rc=$?
  { echo "exit $rc"; sed 's/^[-0-9T:]*Z //' "$SCRATCH/err"; } >>"$SCRATCH/$name.win.out"
  rc=0
  (cd "$SCRATCH/$site.linux" && env -i "$@" HOME="$HOME" PATH=/usr/bin:/bin "$LINUX" "${args[@]}" \
    <"$input" >"$SCRATCH/$name.linux.out" 2>"$SCRATCH/err") || rc=$?
  { echo "exit $rc"; sed 's/^[-0-9T:]*Z //' "$SCRATCH/err"; } >>"$SCRATCH/$name.linux.out"
}

# same NAME EXPECTED [SED]: both answers the same bytes (the Linux one first
# edited by the sed expression SED), and holding EXPECTED (a fixed string that
# shows the case reached the database as meant).
same() {
  local name=$1 expected=$2 win=$SCRATCH/$1.win.out linux=$SCRATCH/$1.linux.out
  if [ -n "${3:-}" ]; then
    sed -i -e "$3" "$linux"
  fi
  if ! grep -a -q -F -- "$expected" "$linux"; then
    fail "database, $name: the Linux answer lacks '$expected'"
    head -c 600 "$linux"
  elif cmp -s "$win" "$linux"; then
    ok "database, $name: same bytes as on Linux"
  else
    fail "database, $name: same bytes as on Linux"
    cmp "$win" "$linux" || true
    diff <(od -c "$win") <(od -c "$linux") | head -20 || true
  fi
}

GET=(SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET)
get_both() {  # get_both SITE NAME PREFIX QUERY EXPECTED [SED]
  run_both "$1" "$2" "$3" "${GET[@]}" "QUERY_STRING=$4" </dev/null
  same "$2" "$5" "${6:-}"
}
post_both() {  # post_both SITE NAME FILE EXPECTED
  run_both "$1" "$2" "$WINEPREFIX" SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST QUERY_STRING=q=addorder \
    CONTENT_TYPE=application/x-www-form-urlencoded "CONTENT_LENGTH=$(stat -c %s "$3")" <"$3"
  same "$2" "$4"
}
order() {  # order GUID TABLE ROWS...: an order document; each row is "id count weight mod"
  local guid=$1 table=$2 row
  shift 2
  printf "<?xml version='1.0' encoding='windows-1251'?>\n<ORDER>\n<GUID>%s</GUID>\n" "$guid"
  printf '<DEVICEID>HALL-1</DEVICEID>\n<PIN>1001</PIN>\n<TABLE>%s</TABLE>\n<FOODS>\n' "$table"
  for row in "$@"; do
    # shellcheck disable=SC2086
    set -- $row
    printf '<food>%s<count>%s</count><weight>%s</weight><isModificator>%s</isModificator></food>\n' "$1" "$2" "$3" "$4"
  done
  printf '</FOODS>\n</ORDER>\n'
}

db_cases() {
  if [ ! -f "$FWD_DLL" ]; then fail "database: the forwarding fbclient.dll is not built"; return; fi
  if [ ! -x "$LINUX" ]; then fail "database: no Linux program $LINUX to compare with"; return; fi
  "$ROOT/scripts/fbserver.sh" start >/dev/null
  "$ROOT/scripts/demo-db.sh" "$DB" >/dev/null
  # Prices whose printing matters, Cyrillic names, an item of no group (a NULL
  # group line), and a name to escape.
  db_isql "$DB" >/dev/null <<'EOF'
insert into RESTAURANT_PRICELISTS (Id, Name) values (90, 'Проверка');
insert into RESTAURANT_STATIONS (Id, Code, Name, IdPriceList) values (90, 'CHECK', 'Проверочный', 90);
insert into RESTAURANT_MENU (Id, IdGroup, Fullname, DefaultQuantity, EdVolume, ISINPUTPRICE, ISINPUTVOLUME) values (9001, 1, '  Сельдь пряная  ', 1, 'шт', 0, 0);
insert into RESTAURANT_MENU (Id, IdGroup, Fullname, DefaultQuantity, EdVolume, ISINPUTPRICE, ISINPUTVOLUME) values (9002, 1, 'Fish & Chips <XL>', 2, ' г ', 0, 1);
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9004, 2, 'Почти ноль');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9005, 2, 'Скидка');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9008, 2, 'Округление');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9009, 2, 'Почти сто');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname, DefaultQuantity, EdVolume, ISINPUTPRICE, ISINPUTVOLUME) values (9010, 77, 'Без группы', 250, 'мл', 0, 1);
insert into RESTAURANT_PRICES values (90, 9010, 0.5);
insert into RESTAURANT_PRICES values (90, 9001, 12.5);
insert into RESTAURANT_PRICES values (90, 9002, 0.125);
insert into RESTAURANT_PRICES values (90, 9004, -0.004);
insert into RESTAURANT_PRICES values (90, 9005, -3.456);
insert into RESTAURANT_PRICES values (90, 9008, 2.675);
insert into RESTAURANT_PRICES values (90, 9009, 99.999);
update RESTAURANT_WAITERS set name = ' Ким & <Ли> ' where id = 2;
commit;
EOF
  new_sites good "$(settings_for "$DB" "$DB_USER" "$DB_PASSWORD")"

  # ---- the lists: Cyrillic text, prices, NULLs; once more with a comma decimal mark
  get_both good food "$WINEPREFIX" 'q=getsprfood&user=1001&device=CHECK&version=3' '<PRICE>-3.46</PRICE>'
  # The prices with the comma (the Linux program runs in the C locale).
  get_both good food_regional "$REGIONAL_PREFIX" 'q=getsprfood&user=1001&device=CHECK&version=3' \
    '<PRICE>0,13</PRICE>' 's|<PRICE>\(-\?[0-9]*\)\.|<PRICE>\1,|g'
  get_both good menu "$WINEPREFIX" 'q=getsprfood&user=1002&device=HALL-1' 'Борщ с пампушками'
  get_both good groups "$WINEPREFIX" 'q=getsprfoodgroup&user=1001&device=CHECK' '<ID></ID>'
  get_both good stewards "$REGIONAL_PREFIX" 'q=getsprstewards' '<pin>1002</pin>Ким &amp; &lt;Ли&gt;</steward>'
  WINEPREFIX=$REGIONAL_PREFIX wineserver -w 2>/dev/null || true

  # ---- orders: each program posts its own, then the same once more --------------------
  # Both programs post one file: the Linux run repeats the Windows run's order,
  # a duplicate; then both once more.
  order w-win 5 "301 2 0 no" "1401 1 0 yes" "1101 1 500 N" >"$SCRATCH/o-win.xml"
  post_both good order "$SCRATCH/o-win.xml" $'\r\n\r\nok'
  post_both good order_again "$SCRATCH/o-win.xml" $'\r\n\r\nok'
  if [ "$(db_count "select count(*) from Restaurant_ImportedOrders where guid = 'w-win';")" = 1 ] &&
    [ "$(db_count "select count(*) from Restaurant_ImportedOrderRows where guidOrder = 'w-win';")" = 3 ]; then
    ok "database, order: posted four times, stored once with its three rows"
  else
    fail "database, order: posted four times, stored once with its three rows"
  fi
  order w-err 5 "9999 1 0 no" >"$SCRATCH/o-err.xml"
  post_both good business_error "$SCRATCH/o-err.xml" 'Позиции меню с кодом 9999 нет, обновите меню.'
  order w-int "5 " "301 1 0 no" >"$SCRATCH/o-int.xml"
  post_both good integer_error "$SCRATCH/o-int.xml" "'5 ' is not a valid integer value"
  # Concurrent duplicates: six Windows processes post one new order at once.
  order w-conc 3 "301 1 0 no" >"$SCRATCH/o-conc.xml"
  local i pids=()
  for i in 1 2 3 4 5 6; do
    (cd "$SCRATCH/good.win" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST QUERY_STRING=q=addorder \
      CONTENT_TYPE=application/x-www-form-urlencoded "CONTENT_LENGTH=$(stat -c %s "$SCRATCH/o-conc.xml")" \
      WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all HOME="$HOME" PATH=/usr/bin:/bin \
      timeout 120 "$WINE" ./dorvana.exe <"$SCRATCH/o-conc.xml" >"$SCRATCH/conc.$i" 2>&1) &
    pids+=($!)
  done
  wait "${pids[@]}" || true
  local replies
  replies=$(for i in 1 2 3 4 5 6; do sed -e '1,/^\r$/d' "$SCRATCH/conc.$i"; echo; done | paste -sd' ')
  if [ "$replies" = "ok ok ok ok ok ok" ] &&
    [ "$(db_count "select count(*) from Restaurant_ImportedOrders where guid = 'w-conc';")" = 1 ]; then
    ok "database, concurrent duplicates: six replies ok, stored once"
  else
    fail "database, concurrent duplicates: six replies ok, stored once (replies: $replies)"
  fi

  # ---- connect failures: the server's own texts --------------------------------------
  new_sites wrongpw "$(settings_for "$DB" "$DB_USER" wrong)"
  get_both wrongpw wrong_password "$WINEPREFIX" 'q=getsprstewards' 'DorvanaWebInterface.Database:'
  new_sites missing "$(settings_for "127.0.0.1:$DBDIR/missing.fdb" "$DB_USER" "$DB_PASSWORD")"
  get_both missing missing_database "$WINEPREFIX" 'q=getsprfood&user=1001&device=HALL-1' 'DorvanaWebInterface.Database:'
  # A database whose connect trigger refuses every connection with a Cyrillic message.
  printf "create database '%s' user '%s' password '%s' default character set WIN1251;\n" \
    "$TRIGGER_DB" "$DB_USER" "$DB_PASSWORD" | isql-fb -q >/dev/null
  db_isql "$TRIGGER_DB" >/dev/null <<'EOF'
create exception closed_for_today 'Касса закрыта на учёт';
set term ^;
create trigger refuse_all on connect as begin exception closed_for_today; end^
set term ;^
commit;
EOF
  new_sites closed "$(settings_for "$TRIGGER_DB" "$DB_USER" "$DB_PASSWORD")"
  # The menu's failure text is UTF-8, the waiters' one Windows-1251.
  get_both closed connect_trigger "$WINEPREFIX" 'q=getsprfood&user=1001&device=HALL-1' \
    'Касса закрыта на учёт'
  get_both closed connect_trigger_1251 "$WINEPREFIX" 'q=getsprstewards' "At trigger 'REFUSE_ALL'"

  # ---- the operators' tools ------------------------------------------------------------
  # The same archive copies in both folders: the Windows program's ones. The
  # Windows answers name the folder as Windows does and the client library by
  # its Windows name: those are put in Linux's terms first.
  rm -rf "$SCRATCH/good.linux/Orders"
  cp -a "$SCRATCH/good.win/Orders" "$SCRATCH/good.linux/Orders"
  local site
  for site in good wrongpw; do
    run_both "$site" "check_$site" "$WINEPREFIX" --check -- </dev/null
    sed -i -e 's|\\|/|g' -e "s|Z:$SCRATCH/$site.win|$SCRATCH/$site.linux|" \
      -e 's|^client library: fbclient\.dll,|client library: libfbclient.so.2,|' "$SCRATCH/check_$site.win.out"
  done
  same check_good 'all is well'
  same check_wrongpw 'Your user name and password are not defined'
  run_both good orders "$WINEPREFIX" --orders -- </dev/null
  sed -i -e 's|\\|/|g' "$SCRATCH/orders.win.out"
  same orders 'imported'
}

db_cases
