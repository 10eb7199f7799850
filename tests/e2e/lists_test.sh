#!/bin/bash
# The terminal lists through the web server $WEB against a fresh demo database: exact reply
# bytes, well-formed XML, the failure replies and concurrent requests.
. "$(dirname "$0")/service_env.sh" "$1"

# A station whose price list holds the values whose printing matters.
sql "insert into RESTAURANT_PRICELISTS (Id, Name) values (90, 'Проверка');
insert into RESTAURANT_STATIONS (Id, Code, Name, IdPriceList) values (90, 'CHECK', 'Проверочный терминал', 90);
insert into RESTAURANT_MENU (Id, IdGroup, Fullname, DefaultQuantity, EdVolume, ISINPUTPRICE, ISINPUTVOLUME) values (9001, 1, '  Сельдь пряная  ', 1, 'шт', 0, 0);
insert into RESTAURANT_MENU (Id, IdGroup, Fullname, DefaultQuantity, EdVolume, ISINPUTPRICE, ISINPUTVOLUME) values (9002, 1, 'Fish & Chips <XL>', 2, ' г ', 0, 1);
insert into RESTAURANT_MENU (Id, IdGroup, Fullname, DefaultQuantity, EdVolume, ISINPUTPRICE, ISINPUTVOLUME) values (9003, 2, 'Салат \"Весна\"', 1, 'шт', 1, 0);
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9004, 2, 'Почти ноль');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9005, 2, 'Скидка');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9006, 2, 'Дорогое');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9007, 2, 'Десятая');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9008, 2, 'Округление');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname) values (9009, 2, 'Почти сто');
insert into RESTAURANT_MENU (Id, IdGroup, Fullname, DefaultQuantity, EdVolume, ISINPUTPRICE, ISINPUTVOLUME) values (9010, 77, 'Без группы', 250, 'мл', 0, 1);
insert into RESTAURANT_PRICES values (90, 9001, 12.5);
insert into RESTAURANT_PRICES values (90, 9002, 0.125);
insert into RESTAURANT_PRICES values (90, 9003, 12);
insert into RESTAURANT_PRICES values (90, 9004, -0.004);
insert into RESTAURANT_PRICES values (90, 9005, -3.456);
insert into RESTAURANT_PRICES values (90, 9006, 1234.5);
insert into RESTAURANT_PRICES values (90, 9007, 0.1);
insert into RESTAURANT_PRICES values (90, 9008, 2.675);
insert into RESTAURANT_PRICES values (90, 9009, 99.999);
insert into RESTAURANT_PRICES values (90, 9010, 0.5);
commit;" >/dev/null

new_site good "$(settings_for "$DB")"
new_site nosettings
new_site baddb "$(settings_for "127.0.0.1:$WORK/db/missing.fdb")"

DECL="<?xml version='1.0' encoding='Utf-8' standalone='yes' ?>"
CR=$'\r'
food() {  # name id group defq price inputp vol wght
  printf '\r<food>%s\r<ID>%s</ID>\r<IDGROUP>%s</IDGROUP>\r<DEFQ>%s</DEFQ>\r<PRICE>%s</PRICE>\r<INPUTP>%s</INPUTP>\r<VOL>%s</VOL>\r<WGHT>%s</WGHT>\r</food>' "$@"
}

# ---- getsprfood ---------------------------------------------------------------
expected="$DECL$CR<foods>$(
  food 'Без группы' 9010 77 250 0.5 0 'мл' 1
  food 'Сельдь пряная' 9001 1 1 12.5 0 'шт' 0
  food 'Fish &amp; Chips &lt;XL&gt;' 9002 1 2 0.13 0 'г' 1
  food 'Салат "Весна"' 9003 2 1 12 1 'шт' 0
  food 'Почти ноль' 9004 2 1 0 0 'шт' 0
  food 'Скидка' 9005 2 1 -3.46 0 'шт' 0
  food 'Дорогое' 9006 2 1 1234.5 0 'шт' 0
  food 'Десятая' 9007 2 1 0.1 0 'шт' 0
  food 'Округление' 9008 2 1 2.67 0 'шт' 0
  food 'Почти сто' 9009 2 1 100 0 'шт' 0
)$CR</foods>"
status=$(fetch "$URL_good?q=getsprfood&user=1001&device=CHECK&version=3")
check "getsprfood status" "$status" 200
check "getsprfood content type" "$(header Content-Type)" "text/xml"
check "getsprfood bytes" "$(cat "$E2E_OUT/body"; echo x)" "${expected}x"
xmllint --noout "$E2E_OUT/body" 2>/dev/null && pass "getsprfood well-formed" || fail "getsprfood well-formed"

fetch "$URL_good?q=getsprfood&user=9001&device=HALL-1" >/dev/null
check "getsprfood: a card of no waiter gets the empty list" "$(cat "$E2E_OUT/body")" "$DECL$CR<foods>$CR</foods>"
fetch "$URL_good?q=getsprfood&device=HALL-1" >/dev/null
check "getsprfood: no user field gets the empty list" "$(cat "$E2E_OUT/body")" "$DECL$CR<foods>$CR</foods>"
fetch "$URL_good?q=getsprfood&user=1001&device=NOWHERE" >/dev/null
check "getsprfood: an unknown station gets the empty list" "$(cat "$E2E_OUT/body")" "$DECL$CR<foods>$CR</foods>"

# The whole demo menu of the main hall is well-formed and in UTF-8.
fetch "$URL_good?q=getsprfood&user=1002&device=HALL-1" >/dev/null
xmllint --noout "$E2E_OUT/body" 2>/dev/null && pass "demo menu well-formed" || fail "demo menu well-formed"
check "demo menu item count" "$(grep -o '<food>' "$E2E_OUT/body" | wc -l)" \
  "$(sql "select count(*) from RESTAURANT_GETPRICEFORMOBILE('1002', 'HALL-1');")"
grep -q "<food>Борщ с пампушками$CR<ID>301</ID>" "$E2E_OUT/body" && pass "demo menu Cyrillic" || fail "demo menu Cyrillic"

# ---- getsprfoodgroup ------------------------------------------------------------
expected="$DECL$CR<foodgroups>$CR<foodgroup>$CR<ID></ID>$CR</foodgroup>$CR<foodgroup>Холодные закуски$CR<ID>1</ID>$CR</foodgroup>$CR<foodgroup>Салаты$CR<ID>2</ID>$CR</foodgroup>$CR</foodgroups>"
status=$(fetch "$URL_good?q=getsprfoodgroup&user=1001&device=CHECK")
check "getsprfoodgroup status" "$status" 200
check "getsprfoodgroup content type" "$(header Content-Type)" "text/xml"
check "getsprfoodgroup bytes" "$(cat "$E2E_OUT/body"; echo x)" "${expected}x"
xmllint --noout "$E2E_OUT/body" 2>/dev/null && pass "getsprfoodgroup well-formed" || fail "getsprfoodgroup well-formed"
fetch "$URL_good?q=getsprfoodgroup&user=1006&device=BAR" >/dev/null
check "getsprfoodgroup: bar staff see the bar groups in order" \
  "$(grep -o '<ID>[0-9]*</ID>' "$E2E_OUT/body" | tr -d '\n')" \
  "<ID>9</ID><ID>10</ID><ID>11</ID><ID>12</ID><ID>13</ID>"

# ---- getsprstewards -------------------------------------------------------------
steward() { printf '\r<steward><pin>%s</pin>%s</steward>' "$1" "$2"; }
expected="$DECL$CR<stewards>$(
  steward 1005 'Волкова Екатерина'
  steward 9002 'Зайцев Павел'
  steward 1001 'Иванова Анна'
  steward 1004 'Кузнецов Дмитрий'
  steward 1006 'Морозов Алексей'
  steward '' 'Новикова Дарья'
  steward 1002 'Петров Сергей'
  steward 1003 'Смирнова Ольга'
  steward 2001 'Соколов Игорь'
)$CR</stewards>"
status=$(fetch "$URL_good?q=getsprstewards")
check "getsprstewards status" "$status" 200
check "getsprstewards content type" "$(header Content-Type)" "text/xml"
check "getsprstewards bytes" "$(cat "$E2E_OUT/body"; echo x)" "${expected}x"
xmllint --noout "$E2E_OUT/body" 2>/dev/null && pass "getsprstewards well-formed" || fail "getsprstewards well-formed"
sql "update RESTAURANT_WAITERS set name = ' Ким & <Ли> ' where id = 2; commit;" >/dev/null
fetch "$URL_good?q=getsprstewards" >/dev/null
grep -q "<pin>1002</pin>Ким &amp; &lt;Ли&gt;</steward>" "$E2E_OUT/body" && pass "getsprstewards escapes and trims" || fail "getsprstewards escapes and trims"

# ---- failures ----------------------------------------------------------------------
for q in getsprfood getsprfoodgroup getsprstewards; do
  status=$(fetch "$URL_baddb?q=$q&user=1001&device=HALL-1")
  check "$q: missing database status" "$status" 200
  check "$q: missing database content type" "$(header Content-Type)" "text/plain"
  check "$q: missing database first line" "$(head -1 "$E2E_OUT/body" | tr -d '\r')" "DorvanaWebInterface.Database:"
  if [ $q = getsprfood ]; then
    iconv -f UTF-8 -t UTF-8 "$E2E_OUT/body" >/dev/null 2>&1 && pass "$q: message is UTF-8" || fail "$q: message is UTF-8"
  fi
  status=$(fetch "$URL_nosettings?q=$q&user=1001&device=HALL-1")
  check "$q: no settings status" "$status" 500
  grep -q "DorvanaWebInterface.Database: Cannot perform operation -- DB is not open." "$E2E_OUT/body" &&
    pass "$q: no settings message" || fail "$q: no settings message"
done
# ---- concurrency -------------------------------------------------------------------
fetch "$URL_good?q=getsprfood&user=1001&device=HALL-1" >/dev/null
cp "$E2E_OUT/body" "$WORK/menu.expected"
mkdir -p "$WORK/many"
seq 1 16 | xargs -P 16 -I{} curl -s -o "$WORK/many/{}" "$URL_good?q=getsprfood&user=1001&device=HALL-1"
same=0
for i in $(seq 1 16); do cmp -s "$WORK/many/$i" "$WORK/menu.expected" && same=$((same + 1)); done
check "16 concurrent getsprfood answer alike" "$same" 16

finish
