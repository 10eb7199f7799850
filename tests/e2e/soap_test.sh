#!/usr/bin/env bash
# The SOAP service and its WSDL end to end: the program's raw answers run
# directly, then through the web server $WEB the listing, the WSDL as a client reads it, and
# every operation called by PHP's SoapClient.
source "$(dirname "$0")/harness.sh" "$1"

# Run directly: the bytes the program writes.
AT=(SERVER_PROTOCOL=HTTP/1.1 HTTP_HOST=h SERVER_PORT=8080 SCRIPT_NAME=/cgi-bin/x.exe)
direct soap_listing "${AT[@]}" REQUEST_METHOD=GET PATH_INFO=/wsdl/
direct soap_wsdl "${AT[@]}" REQUEST_METHOD=POST PATH_INFO=/wsdl/ISoapTest
direct soap_wsdl_nothing "${AT[@]}" REQUEST_METHOD=GET 'PATH_INFO=/wsdl/<b>Nothing'
direct soap_wsdl_admin "${AT[@]}" REQUEST_METHOD=GET PATH_INFO=/wsdl/admin
direct soap_wsdl_upper "${AT[@]}" REQUEST_METHOD=GET PATH_INFO=/WSDL
ECHO='<?xml version="1.0"?><e:Envelope xmlns:e="http://schemas.xmlsoap.org/soap/envelope/"><e:Body><m:echoDouble xmlns:m="urn:SoapTestIntf-ISoapTest"><Value>-0.125</Value></m:echoDouble></e:Body></e:Envelope>'
# The body through a process substitution, not a pipe: a pipe would run direct
# in a subshell, whose counts of passed and failed checks are lost.
direct soap_echo_double "${AT[@]}" REQUEST_METHOD=POST PATH_INFO=/soap CONTENT_LENGTH=${#ECHO} \
  'HTTP_SOAPACTION="urn:SoapTestIntf-ISoapTest#echoDouble"' < <(printf '%s' "$ECHO")
direct soap_unregistered_action "${AT[@]}" REQUEST_METHOD=POST PATH_INFO=/soap \
  CONTENT_LENGTH=${#ECHO} 'HTTP_SOAPACTION=urn:<Nothing>&#x' < <(printf '%s' "$ECHO")
direct soap_broken_envelope "${AT[@]}" REQUEST_METHOD=POST PATH_INFO=/soap/isoaptest \
  CONTENT_LENGTH=11 < <(printf '<e:Envelope')

# Through the web server.
serve
curl -s -D "$E2E_OUT/listing.head" -o "$E2E_OUT/listing" "$E2E_URL/wsdl"
curl -s -o "$E2E_OUT/listing2" "$E2E_URL/wsdl/"
check "listing type" "$(header Content-Type listing)" text/html
check "listing rows" "$(grep -o '<td class="TblRow">I[A-Za-z]*</td>' "$E2E_OUT/listing" | tr '\n' ' ')" \
  '<td class="TblRow">ISoapTest</td> <td class="TblRow">IWSDLPublish</td> '
check "listing link" "$(grep -c "<a href=\"$E2E_URL/wsdl/ISoapTest\">ISoapTest</a>" "$E2E_OUT/listing")" 1
check "/wsdl/ gives the same page" "$(cmp -s "$E2E_OUT/listing" "$E2E_OUT/listing2" && echo same)" same

curl -s -D "$E2E_OUT/wsdl.head" -o "$E2E_OUT/wsdl" "$E2E_URL/wsdl/ISoapTest"
check "wsdl type" "$(header Content-Type wsdl)" text/xml
check "wsdl well-formed" "$(xmllint --noout "$E2E_OUT/wsdl" 2>&1 && echo yes)" yes
check "wsdl address" \
  "$(xmllint --xpath 'string(//*[local-name()="address"]/@location)' "$E2E_OUT/wsdl")" \
  "$E2E_URL/soap/ISoapTest"

curl -s -D "$E2E_OUT/fault.head" -o "$E2E_OUT/fault" -H 'SOAPAction: "urn:Nothing#x"' \
  -H 'Content-Type: text/xml' --data-binary "$ECHO" "$E2E_URL/soap"
check "unregistered SOAPAction status" "$(head -1 "$E2E_OUT/fault.head" | tr -d '\r')" \
  "HTTP/1.1 500 Internal Server Error"
check "status-500 fault well-formed" "$(xmllint --noout "$E2E_OUT/fault" 2>&1 && echo yes)" yes

# A real client calls every operation.
php "$(dirname "$0")/soap_client.php" "$E2E_URL/wsdl/ISoapTest" >"$E2E_OUT/php" 2>&1
rc=$?
cat "$E2E_OUT/php"
E2E_PASSED=$((E2E_PASSED + $(grep -c '^ok ' "$E2E_OUT/php")))
E2E_FAILED=$((E2E_FAILED + $(grep -c '^FAIL' "$E2E_OUT/php")))
[ "$rc" = 0 ] || grep -q '^FAIL' "$E2E_OUT/php" || fail "php exit code $rc"

# A second, independent client: the npm package "soap", installed beside the
# program on first use. Without the npm registry this part is skipped. Tests
# started at once (ctest -j in a new build folder) install it once: under a
# lock, into a folder of its own that takes its final name only when complete,
# so that no test loads a half-written one.
NODE_DIR=$(dirname "$E2E_PROGRAM")/e2e-node-soap-1.13.0
if [ ! -d "$NODE_DIR" ] && command -v npm >/dev/null; then
  (
    flock 9
    if [ ! -d "$NODE_DIR" ]; then
      part=$(mktemp -d "$NODE_DIR.part.XXXXXX")
      if npm install --prefix "$part" --no-audit --no-fund --no-save soap@1.13.0 >"$E2E_OUT/npm" 2>&1 &&
        [ -f "$part/node_modules/soap/package.json" ]; then
        chmod 755 "$part"
        mv "$part" "$NODE_DIR"
      else
        cat "$E2E_OUT/npm"
        rm -rf "$part"
      fi
    fi
  ) 9>"$NODE_DIR.lock"
fi
if [ -d "$NODE_DIR" ]; then
  NODE_PATH=$NODE_DIR/node_modules node "$(dirname "$0")/soap_client.js" "$E2E_URL/wsdl/ISoapTest" \
    >"$E2E_OUT/node" 2>&1
  rc=$?
  cat "$E2E_OUT/node"
  E2E_PASSED=$((E2E_PASSED + $(grep -c '^ok ' "$E2E_OUT/node")))
  E2E_FAILED=$((E2E_FAILED + $(grep -c '^FAIL' "$E2E_OUT/node")))
  [ "$rc" = 0 ] || grep -q '^FAIL' "$E2E_OUT/node" || fail "node exit code $rc"
else
  echo "skip node client: the npm package soap could not be installed"
fi

finish
