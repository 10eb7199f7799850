#!/usr/bin/env bash
# Peak memory and CPU of one request against the size and shape of its body:
# runs the program directly as a CGI process (no web server, no database: the
# order commands stop at the connect, after the archive copy and the parse) and
# reads peak RSS and user + system CPU with /usr/bin/time.
#
#   bench/memory/run.sh [PROGRAM]     default build/dorvana
#
# Memory: bodies of 1 MiB and 16 MiB in ten shapes (many "&", many empty elements
# in an order, many lines, many SOAP array items, empty elements, processing
# instructions, "<!>" markup and empty elements with an attribute, each between
# text runs, empty elements and elements with two attributes in a SOAP body;
# SHAPES="a b" picks some). CPU: hostile bodies of about 1 MiB (CPU=0 skips
# them). Prints Markdown tables; starts nothing that outlives it.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PROGRAM=$(realpath "${1:-$ROOT/build/dorvana}")
WORK=$(mktemp -d /tmp/dorvana-memory.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/www"

# make_body SHAPE BYTES FILE: a body of about BYTES bytes.
make_body() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
shape, size, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
env_head = ('<?xml version="1.0"?><SOAP-ENV:Envelope '
            'xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" '
            'xmlns:SOAP-ENC="http://schemas.xmlsoap.org/soap/encoding/" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
            'xmlns:xsd="http://www.w3.org/2001/XMLSchema"><SOAP-ENV:Body>')
env_tail = '</SOAP-ENV:Body></SOAP-ENV:Envelope>'
def repeat(unit, head='', tail=''):
    n = max(1, (size - len(head) - len(tail)) // len(unit))
    return head + unit * n + tail
order_head = '<order><GUID>bench</GUID><DEVICEID>1</DEVICEID><PIN>1</PIN><TABLE>1</TABLE><FOODS>'
order_tail = '</FOODS></order>'
if shape == 'amp':
    body = '&' * size
elif shape == 'elements':
    body = repeat('<z/>', order_head, order_tail)
elif shape == 'lines':
    body = repeat('a\n')
elif shape == 'soap-items':
    body = repeat('<item>12.25</item>',
                  env_head + '<NS1:echoDoubleArray xmlns:NS1="urn:SoapTestIntf-ISoapTest">'
                  '<Value SOAP-ENC:arrayType="xsd:double[]">',
                  '</Value></NS1:echoDoubleArray>' + env_tail)
elif shape == 'empty-text':
    body = repeat('<a/>x', '<order>', '</order>')
elif shape == 'instructions':
    body = repeat('<?a?>x', '<order>', '</order>')
elif shape == 'markup-text':
    body = repeat('<!>x', '<order>', '</order>')
elif shape == 'attribute-text':
    body = repeat('<a b/>x', '<order>', '</order>')
elif shape == 'soap-attributes-many':
    body = repeat('<a b="" c=""/>', env_head, env_tail)
elif shape == 'soap-short-items':
    body = repeat('<a>1</a>', env_head + '<NS1:echoDoubleArray xmlns:NS1="urn:SoapTestIntf-ISoapTest">'
                  '<Value SOAP-ENC:arrayType="xsd:double[]">',
                  '</Value></NS1:echoDoubleArray>' + env_tail)
elif shape == 'soap-empty':
    body = repeat('<a/>', env_head, env_tail)
elif shape == 'soap-attributes':
    n = (size - 400) // 10
    body = (env_head + '<NS1:echoDouble xmlns:NS1="urn:SoapTestIntf-ISoapTest" ' +
            ' '.join('a%06d=""' % i for i in range(n)) + '><Value>1</Value></NS1:echoDouble>' +
            env_tail)
elif shape == 'soap-namespaces':
    # 200 nested elements, each declaring 250 prefixes, around elements whose
    # prefix is declared on the root: every name lookup searches every scope.
    decl = ''.join(' xmlns:p%d="u"' % i for i in range(250))
    head = env_head + '<q:r xmlns:q="v">' + ('<q:n' + decl + '>') * 200
    tail = '</q:n>' * 200 + '</q:r>' + env_tail
    body = repeat('<q:e/>', head, tail)
elif shape == 'soap-nesting':
    n = (size - 400) // 7
    body = env_head + '<a>' * n + '</a>' * n + env_tail
elif shape == 'soap-entities':
    body = repeat('&amp;', env_head + '<NS1:echoDoubleArray xmlns:NS1="urn:SoapTestIntf-ISoapTest">'
                  '<Value><item>', '</item></Value></NS1:echoDoubleArray>' + env_tail)
elif shape == 'soap-long-name':
    name = 'n' * (size // 2 - 300)
    body = env_head + '<' + name + '>1</' + name + '>' + env_tail
elif shape == 'order-attributes':
    n = (size - 200) // 10
    body = ('<order ' + ' '.join('a%06d=""' % i for i in range(n)) +
            '><GUID>bench</GUID></order>')
elif shape == 'order-quoted-words':
    # A long word with "=" and then many quoted words, each joined to it.
    body = '<order ' + 'a' * (size // 2) + ' =' + " ''" * (size // 6) + '><GUID>x</GUID></order>'
elif shape == 'order-nesting':
    body = repeat('<a>' * 999 + '</a>' * 999, '<order>', '</order>')
elif shape == 'order-entities':
    body = repeat('&#65;', '<order><GUID>', '</GUID></order>')
elif shape == 'order-long-name':
    name = 'n' * (size // 2 - 20)
    body = '<' + name + '>1</' + name + '>'
elif shape == 'order-children':
    body = repeat('<x>1</x>', '<order>', '<GUID>g</GUID></order>')
elif shape == 'order-text':
    body = repeat('x\r\n<b/>', '<order>', '</order>')
else:
    sys.exit('unknown shape ' + shape)
open(path, 'wb').write(body.encode())
PY
}

# measure SHAPE BYTES: one process; prints "rss_kib cpu_s body_bytes archive_bytes status".
measure() {
  local shape=$1 bytes=$2 body="$WORK/body" query path
  make_body "$shape" "$bytes" "$body"
  rm -rf "$WORK/www/Orders"
  case $shape in
    soap-*) query=''; path=/soap/ISoapTest ;;
    *) query='q=addorder'; path='' ;;
  esac
  local size
  size=$(stat -c %s "$body")
  ( cd "$WORK/www" && env -i REQUEST_METHOD=POST SERVER_PROTOCOL=HTTP/1.1 QUERY_STRING="$query" \
      PATH_INFO="$path" CONTENT_LENGTH="$size" \
      /usr/bin/time -f '%M %U %S' -o "$WORK/time" "$PROGRAM" <"$body" >"$WORK/out" ) || true
  local archive=0
  if [ -d "$WORK/www/Orders" ]; then
    archive=$(find "$WORK/www/Orders" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
  fi
  local status
  status=$(head -c 200 "$WORK/out" | head -n 1 | tr -d '\r')
  read -r rss user sys <"$WORK/time"
  echo "$rss $(echo "$user + $sys" | bc) $size $archive ${status#Status: }"
}

MiB=1048576
echo "Program: $PROGRAM"
echo
echo "### Peak memory"
echo
echo "| Shape | Body bytes | Peak RSS MiB | RSS / body | Archive bytes | CPU s | Status |"
echo "|---|---|---|---|---|---|---|"
base=$(measure lines 16 | cut -d' ' -f1)
for shape in ${SHAPES:-amp elements lines soap-items empty-text instructions soap-empty markup-text attribute-text soap-attributes-many}; do
  for bytes in $MiB $((16 * MiB)); do
    read -r rss cpu size archive status < <(measure "$shape" "$bytes")
    awk -v s="$shape" -v b="$size" -v r="$rss" -v a="$archive" -v c="$cpu" -v st="$status" -v base="$base" \
      'BEGIN {printf "| %s | %d | %.1f | %.1f | %d | %.2f | %s |\n", s, b, r/1024, (r-base)*1024/b, a, c, st}'
  done
done
echo
echo "RSS / body is (peak RSS - $base KiB, the RSS of a process with a 16-byte body) / body bytes."
[ "${CPU:-1}" = 0 ] && exit 0
echo
echo "### CPU of hostile bodies of about 1 MiB"
echo
echo "| Shape | Body bytes | CPU s | Peak RSS MiB | Status |"
echo "|---|---|---|---|---|"
for shape in soap-attributes soap-namespaces soap-nesting soap-entities soap-long-name order-attributes \
             order-quoted-words order-nesting order-entities order-long-name order-children \
             order-text; do
  read -r rss cpu size archive status < <(measure "$shape" $MiB)
  awk -v s="$shape" -v b="$size" -v r="$rss" -v c="$cpu" -v st="$status" \
    'BEGIN {printf "| %s | %d | %.2f | %.1f | %s |\n", s, b, c, r/1024, st}'
done
