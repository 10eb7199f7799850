#!/bin/bash
# Prints an order of the demo restaurant with ROWS rows (about 85 bytes a row),
# for the large-order benchmarks and tests:
#
#   bench/intake/order.sh GUID ROWS
#
# Every row is a dish of the HALL-1 price list, table 5, waiter's card 1001.
set -euo pipefail
awk -v guid="$1" -v rows="$2" 'BEGIN {
  split("301 402 601 801 901 1001 1101 1201 1301 501", ids, " ")
  printf "<?xml version=\x271.0\x27 encoding=\x27windows-1251\x27?>\n<ORDER>\n<GUID>%s</GUID>\n", guid
  printf "<DEVICEID>HALL-1</DEVICEID>\n<PIN>1001</PIN>\n<TABLE>5</TABLE>\n<FOODS>\n"
  for (i = 0; i < rows; i++)
    printf "<food>%s<count>1</count><weight>0</weight><isModificator>no</isModificator></food>\n", ids[i % 10 + 1]
  printf "</FOODS>\n</ORDER>\n"
}'
