#!/bin/bash
# Where a FastCGI request's CPU goes: instructions per request of the program's
# FastCGI process against the persistent floor's, counted by callgrind (stable on
# a busy machine, where times are not), per command, past a warm-up.
#
#   bench/fastcgi/profile.sh PROGRAM FLOOR DB OUTDIR [REQUESTS]
#
# PROGRAM and FLOOR take `--fastcgi HOST:PORT --processes 1`; DB is the
# benchmark database (HOST:PATH, bench/db/make-bench-db.sh). Each runs under
# callgrind in a working folder of its own; requests go straight to it with
# cgi-fcgi. Per command: 5 requests of warm-up, the counters zeroed, REQUESTS
# requests (default 40), a dump. Writes OUTDIR/instructions.tsv (command,
# variant, requests, instructions per request) and OUTDIR/top-COMMAND.txt, the
# program's functions by inclusive cost; the dumps stay in OUTDIR for
# callgrind_annotate.
set -euo pipefail
PROGRAM=${1:?usage: profile.sh PROGRAM FLOOR DB OUTDIR [REQUESTS]}
FLOOR=${2:?}
DB=${3:?}
OUT=${4:?}
K=${5:-40}
PORT_BASE=${BENCH_PROFILE_PORT:-27540}
# getsprfood (2,000 rows a request) is slow under callgrind: left out unless named.
COMMANDS=${BENCH_PROFILE_COMMANDS:-test getsprfoodgroup getsprstewards addorder}
for tool in valgrind callgrind_control callgrind_annotate cgi-fcgi ss; do
  command -v "$tool" >/dev/null || { echo "profile.sh: $tool is missing" >&2; exit 1; }
done

PIDS=()
stop() {  # PID: the server started here and its children; KILL after 5 s
  local kids i
  kids=$(ps -o pid= --ppid "$1" 2>/dev/null || true)
  kill "$1" 2>/dev/null || true
  # shellcheck disable=SC2086
  [ -z "$kids" ] || kill $kids 2>/dev/null || true
  for i in $(seq 1 50); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  # shellcheck disable=SC2086
  kill -KILL "$1" $kids 2>/dev/null || true
}
cleanup() {
  local p
  for p in "${PIDS[@]}"; do stop "$p"; done
  return 0
}
trap cleanup EXIT
mkdir -p "$OUT"
printf 'command\tvariant\trequests\tinstructions_per_request\n' >"$OUT/instructions.tsv"

query_of() {
  case "$1" in
    test) echo 'q=test&user=5001&device=HALL-1' ;;
    getsprfood) echo 'q=getsprfood&user=5001&device=HALL-1&version=1' ;;
    getsprfoodgroup) echo 'q=getsprfoodgroup&user=5001&device=HALL-1&version=1' ;;
    getsprstewards) echo 'q=getsprstewards' ;;
    addorder) echo 'q=addorder' ;;
  esac
}
order_doc() {  # GUID
  local rows='' j
  for j in 0 1 2 3 4 5 6 7 8 9; do
    rows+="<f>$((1001 + j * 7))<count>1</count><weight>0</weight><isModificator>no</isModificator></f>"
  done
  printf '<order><GUID>%s</GUID><DEVICEID>HALL-1</DEVICEID><PIN>5001</PIN><TABLE>5</TABLE><FOODS>%s</FOODS></order>' \
    "$1" "$rows"
}
send() {  # PORT CMD TAG N: N requests, each answer checked for a 200 status
  local port=$1 cmd=$2 tag=$3 n=$4 i q doc out
  q=$(query_of "$cmd")
  for i in $(seq 1 "$n"); do
    if [ "$cmd" = addorder ]; then
      doc=$(order_doc "prof-$tag-$i")
      out=$(printf '%s' "$doc" | env -i REQUEST_METHOD=POST QUERY_STRING="$q" CONTENT_LENGTH=${#doc} \
        CONTENT_TYPE=text/xml SERVER_PROTOCOL=HTTP/1.1 GATEWAY_INTERFACE=CGI/1.1 \
        cgi-fcgi -bind -connect "127.0.0.1:$port" 2>&1 | head -c 200)
    else
      out=$(env -i REQUEST_METHOD=GET QUERY_STRING="$q" SERVER_PROTOCOL=HTTP/1.1 GATEWAY_INTERFACE=CGI/1.1 \
        cgi-fcgi -bind -connect "127.0.0.1:$port" 2>&1 | head -c 200)
    fi
    case "$out" in
      *"Status: 200"*|*"Content-Type"*) ;;
      *) echo "profile.sh: $cmd: unexpected answer: ${out:0:120}" >&2 ;;
    esac
  done
}

profile() {  # VARIANT BINARY PORT
  local v=$1 bin=$2 port=$3 dir=$OUT/$1 pid child i cmd f ir tag
  mkdir -p "$dir"
  printf 'SERVER NAME=%s\r\nUSER NAME=DORVANA\r\nPASSWORD=dorvana\r\n' "$DB" >"$dir/bench.def"
  ( cd "$dir" && exec valgrind --tool=callgrind --trace-children=yes --collect-systime=no \
      --callgrind-out-file="$dir/cg.%p.out" --log-file="$dir/valgrind.%p.log" \
      "$bin" --fastcgi "127.0.0.1:$port" --processes 1 ) </dev/null >"$dir/server.log" 2>&1 &
  pid=$!
  PIDS+=("$pid")
  for i in $(seq 1 600); do
    ss -ltnH "sport = :$port" | grep -q . && break
    kill -0 "$pid" 2>/dev/null || { echo "profile.sh: $v ended at start" >&2; return 1; }
    sleep 0.1
  done
  child=
  for i in $(seq 1 100); do
    child=$(ps -o pid= --ppid "$pid" | head -1 | tr -d ' ')
    [ -n "$child" ] && break
    sleep 0.1
  done
  [ -n "$child" ] || child=$pid  # a server that serves in its first process
  tag=$v-$(date +%s)
  for cmd in $COMMANDS; do
    send "$port" "$cmd" "$tag-w-$cmd" 5
    callgrind_control -z "$child" >/dev/null 2>&1 || echo "profile.sh: $v: zeroing failed" >&2
    send "$port" "$cmd" "$tag-$cmd" "$K"
    callgrind_control -d "$cmd" "$child" >/dev/null 2>&1 || echo "profile.sh: $v: dump failed" >&2
    f=
    for i in $(seq 1 100); do
      f=$(ls -t "$dir"/cg."$child".out.* 2>/dev/null | head -1 || true)
      [ -n "$f" ] && break
      sleep 0.2
    done
    [ -n "$f" ] || { echo "profile.sh: $v $cmd: no dump" >&2; continue; }
    ir=$(sed -n 's/^totals: *\([0-9]*\).*/\1/p;s/^summary: *\([0-9]*\).*/\1/p' "$f" | head -1)
    printf '%s\t%s\t%s\t%s\n' "$cmd" "$v" "$K" "$(( ${ir:-0} / K ))" >>"$OUT/instructions.tsv"
    mv "$f" "$dir/cg-$cmd.out"
    if [ "$v" = program ]; then
      callgrind_annotate --inclusive=yes "$dir/cg-$cmd.out" 2>/dev/null | sed -n '1,60p' >"$OUT/top-$cmd.txt" || true
    fi
  done
  stop "$pid"
  wait "$pid" 2>/dev/null || true
}

free_port() {  # the first port from $1 that nothing listens on
  local p=$1
  while ss -ltnH "sport = :$p" | grep -q .; do p=$((p + 1)); done
  echo "$p"
}
profile floor "$FLOOR" "$(free_port "$PORT_BASE")"
profile program "$PROGRAM" "$(free_port "$((PORT_BASE + 10))")"
cat "$OUT/instructions.tsv"
