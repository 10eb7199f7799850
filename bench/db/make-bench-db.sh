#!/bin/bash
# Creates the benchmark restaurant database: the demo schema with a menu of
# realistic size instead of the demo menu: 2,000 items in 60 groups (1,980 of them
# on sale at station HALL-1, 20 on the stop list), four price lists, 100 waiters.
#
#   bench/db/make-bench-db.sh PATH         a local file, for the embedded engine
#   bench/db/make-bench-db.sh HOST:PATH    a database on a running server (linger 60)
#
# The account is the one scripts/demo-db.sh uses (DORVANA_DB_USER/PASSWORD).
# Requests that fit this database: user=5001 device=HALL-1; orders by card 5001
# at station HALL-1, tables 1 to 20, menu items 1001 to 3000 except those whose
# number ends in 50 (stopped).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
db=${1:?usage: make-bench-db.sh PATH or HOST:PATH}

tmp=$(mktemp --suffix=.sql)
trap 'rm -f "$tmp"' EXIT

awk 'BEGIN {
  split("Салат Суп Жаркое Котлета Шашлык Пирог Блинчики Пельмени Вареники Рагу Плов Стейк Филе Рулет Запеканка Омлет Каша Паста Ризотто Пицца Десерт Торт Морс Компот Чай Кофе Коктейль Лимонад Сок Настойка", dish, " ")
  split("домашний|по-царски|с грибами|с сыром|с зеленью|острый|фирменный|по-купечески|с лососем|с курицей|с говядиной|со свининой|с овощами|с брусникой|по-деревенски", how, "|")
  split("Иванов Петров Сидоров Смирнов Кузнецов Попов Васильев Соколов Михайлов Новиков Фёдоров Морозов Волков Алексеев Лебедев Семёнов Егоров Павлов Козлов Степанов", sur, " ")
  split("Анна Сергей Ольга Дмитрий Екатерина Алексей Мария Игорь Дарья Павел", first, " ")
  print "delete from RESTAURANT_PRICES;"
  print "delete from RESTAURANT_MENU;"
  print "delete from RESTAURANT_PRICEGROUPS;"
  print "delete from RESTAURANT_WAITERS;"
  print "delete from RESTAURANT_CARDS;"
  for (g = 1; g <= 60; g++)
    printf "insert into RESTAURANT_PRICEGROUPS (Id, Name, nOrder, IsBar) values (%d, %s, %d, %d);\n",
           g, q(sprintf("Группа %02d %s", g, dish[(g - 1) % 30 + 1])), 1000 - g * 10, (g > 50)
  for (i = 1001; i <= 3000; i++) {
    k = i - 1001
    g = k % 60 + 1
    name = dish[k % 30 + 1] " " how[int(k / 30) % 15 + 1] " №" i
    if (k % 97 == 0) name = "  " name "  "          # padding the reply trims
    if (k % 89 == 0) name = name " & <гарнир>"      # markup the reply escapes
    unit = (k % 7 == 0) ? "г" : (k % 11 == 0) ? "мл" : "шт"
    if (k % 13 == 0) unit = unit " "
    defq = (unit ~ /^г/) ? 250 : (unit ~ /^мл/) ? 500 : 1
    printf "insert into RESTAURANT_MENU (Id, IdGroup, Fullname, DefaultQuantity, EdVolume, ISINPUTPRICE, ISINPUTVOLUME, ISMODIFIER, STOPPED) values (%d, %d, %s, %d, %s, %d, %d, %d, %d);\n",
           i, g, q(name), defq, q(unit), k % 50 == 3, unit !~ /^шт/, k % 40 == 39, i % 100 == 50
    price = (k * 7919 % 250000) / 100
    if (k % 10 == 4) price = int(price) + 0.5
    if (k % 10 == 6) price = int(price) + 0.125
    if (k % 10 == 8) price = int(price)
    printf "insert into RESTAURANT_PRICES (IdPriceList, IdMenu, PRICE) values (1, %d, %.3f);\n", i, price
    printf "insert into RESTAURANT_PRICES (IdPriceList, IdMenu, PRICE) values (4, %d, %.3f);\n", i, price * 1.2
    if (k % 2 == 0) printf "insert into RESTAURANT_PRICES (IdPriceList, IdMenu, PRICE) values (2, %d, %.3f);\n", i, price
    if (g > 50) printf "insert into RESTAURANT_PRICES (IdPriceList, IdMenu, PRICE) values (3, %d, %.3f);\n", i, price
  }
  for (w = 1; w <= 100; w++) {
    card = "null"
    if (w <= 90 || w > 95) {
      printf "insert into RESTAURANT_CARDS (id, code) values (%d, %s);\n", w, q(5000 + w)
      card = w
    }
    status = w > 95 ? -1 : (w % 9 == 0 ? 0 : 1)
    role = w <= 80 ? "W" : (w <= 90 ? "B" : "M")
    printf "insert into RESTAURANT_WAITERS (id, name, Status, Role, IdCard) values (%d, %s, %d, %s, %s);\n",
           w, q(sur[(w - 1) % 20 + 1] " " first[int((w - 1) / 20) * 2 % 10 + 1 + (w % 2)] " " w), status, q(role), card
  }
  print "commit;"
}
function q(s) { gsub(/\047/, "\047\047", s); return "\047" s "\047" }' | iconv -f UTF-8 -t CP1251 > "$tmp"

"$here/scripts/demo-db.sh" "$db" "$tmp"
