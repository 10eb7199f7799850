#!/bin/bash
# What the operator's tools cost on a large archive: a working folder with N
# archived orders (default 20,000) of one row each against a fresh demo database
# on the local Firebird server, then --orders with every copy missing,
# --replay --all-missing, --orders with every copy imported, --rotate, and
# --orders once more (now reading the dated folder). Then hostile archives: 60
# copies with an 8 MiB TABLE (--orders), and a folder crowded by a flood of
# 99,950 refused copies, into which 20 orders are posted as CGI requests before
# --check and --rotate. Prints the wall time and peak memory of each. Not part
# of the test command.
#
#   bench/operator_tools.sh [N]
#   BENCH_PROGRAM=path   the program to measure (default build/dorvana)
#
# Measured 2026-12-09 on the shared 2-core machine (load 10 to 17 from other
# work): --orders 0.40 s for 2,000 copies and 9.8 s for 20,000 (3.9 s of it
# reading the files, the rest one duplicate-check query per GUID), under 15 MiB;
# --replay --all-missing 80 s for 2,000 orders (40 ms an order, the import's own
# commits); --rotate 0.40 s for 2,000; --check 0.4 to 0.6 s.
# Measured 2026-12-10, same machine: 60 copies with an 8 MiB TABLE, --orders
# 2.0 s, 31 MiB, a 14 KB listing (it was 7.4 s, 527 MiB and 503 MB while every
# copy's fields were kept); the crowded folder takes all 20 orders (it took 7
# of 20 when the names ran out), --check 14.6 s (it reads every copy to count
# them by state), --rotate 28.8 s, 59 MiB, leaving the folder empty.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
N=${1:-20000}
PROGRAM=${BENCH_PROGRAM:-$ROOT/build/dorvana}
USER_NAME=${DORVANA_DB_USER:-DORVANA}
PASSWORD=${DORVANA_DB_PASSWORD:-dorvana}

WORK=
DB=
cleanup() {
  if [ -n "$DB" ]; then
    printf "connect '%s';\ndrop database;\n" "$DB" |
      isql-fb -q -user "$USER_NAME" -password "$PASSWORD" >/dev/null 2>&1 || true
  fi
  if [ -n "$WORK" ]; then rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap "exit 1" INT TERM
WORK=$(mktemp -d /tmp/dorvana-bench-tools.XXXXXX)
chmod 755 "$WORK"
mkdir -m 777 "$WORK/db"
"$ROOT/scripts/fbserver.sh" start >/dev/null
DB=127.0.0.1:$WORK/db/tools.fdb
"$ROOT/scripts/demo-db.sh" "$DB" >/dev/null
SITE=$WORK/site
mkdir -p "$SITE/Orders"
printf 'SERVER NAME=%s\r\nUSER NAME=%s\r\nPASSWORD=%s\r\n' "$DB" "$USER_NAME" "$PASSWORD" >"$SITE/dorvana.def"
python3 - "$SITE/Orders" "$N" <<'PY'
import sys
folder, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    with open(f"{folder}/order {i}.xml", "w", newline="") as f:
        f.write("<?xml version='1.0' encoding='windows-1251'?>\r\n<ORDER>\r\n"
                f"<GUID>bench-{i}</GUID>\r\n<DEVICEID>HALL-1</DEVICEID>\r\n<PIN>1001</PIN>\r\n"
                "<TABLE>5</TABLE>\r\n<FOODS>\r\n<food>301<count>1</count><weight>0</weight>"
                "<isModificator>no</isModificator></food>\r\n</FOODS>\r\n</ORDER>\r\n")
PY

measure() {  # measure LABEL ARGS...: one run of the tool in the folder
  local label=$1
  shift
  (cd "$SITE" && env -i PATH="$PATH" /usr/bin/time -f "%e %M" -o "$WORK/time" "$PROGRAM" "$@" \
    >"$WORK/out" 2>/dev/null) || true
  read -r seconds kb < <(tail -1 "$WORK/time")
  printf '%-34s %8s s %8s KiB   %s\n' "$label" "$seconds" "$kb" "$(tail -1 "$WORK/out")"
}
echo "$N archived copies; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "--orders (all missing)" --orders
measure "--replay --all-missing" --replay --all-missing
measure "--orders (all imported)" --orders
find "$SITE/Orders" -name '*.xml' -exec touch -d '30 days ago' {} +
measure "--rotate" --rotate
measure "--orders (from the dated folder)" --orders
measure "--check" --check

# ---- hostile archives ------------------------------------------------------------------
rm -rf "$SITE/Orders"
mkdir -p "$SITE/Orders"
python3 - "$SITE/Orders" <<'PY'
import sys
big = b"7" * (8 << 20)
for i in range(60):
    with open("%s/order %d.xml" % (sys.argv[1], i), "wb") as f:
        f.write(b"<ORDER><GUID>big-%d</GUID><DEVICEID>HALL-1</DEVICEID><PIN>1001</PIN><TABLE>" % i
                + big + b"</TABLE><FOODS></FOODS></ORDER>")
PY
measure "--orders (60 copies, 8 MiB TABLE)" --orders
echo "  listing: $(wc -c <"$WORK/out") bytes"
rm -rf "$SITE/Orders"
mkdir -p "$SITE/Orders"
python3 - "$SITE/Orders" <<'PY'
import sys, random
random.seed(7)
free = set(random.sample(range(100000), 50))
for i in range(100000):
    if i not in free:
        with open(f"{sys.argv[1]}/order {i}.xml", "w") as f:
            f.write(f"<ORDER><GUID>flood-{i}</GUID></ORDER>\r\n")
PY
ok=0
for i in $(seq 1 20); do
  printf '<ORDER><GUID>real-%s</GUID><DEVICEID>HALL-1</DEVICEID><PIN>1001</PIN><TABLE>5</TABLE><FOODS></FOODS></ORDER>' \
    "$i" >"$WORK/post.xml"
  answer=$(cd "$SITE" && env -i PATH="$PATH" SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST QUERY_STRING=q=addorder \
    CONTENT_LENGTH="$(stat -c %s "$WORK/post.xml")" "$PROGRAM" <"$WORK/post.xml" 2>/dev/null | tail -1)
  [ "$answer" = ok ] && ok=$((ok + 1))
done
echo "99,950 flood copies: $ok of 20 orders posted as CGI requests answered ok"
measure "--check (crowded folder)" --check
find "$SITE/Orders" -maxdepth 1 -name '*.xml' -exec touch -d '8 days ago' {} +
measure "--rotate (crowded folder)" --rotate
echo "  left in Orders: $(find "$SITE/Orders" -maxdepth 1 -type f | wc -l)"
