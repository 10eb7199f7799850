#!/usr/bin/env bash
# The IIS configuration in deploy/iis/ against the program's own limits, read
# from the sources by scripts/limits: the request limit equals the largest body,
# every IIS timeout lies above the largest request deadline, and the pieces that keep the folder unserved and the
# clients listed are there. IIS itself cannot run here: this checks the files.
#
#   tests/windows/iis_config_test.sh [DEPLOY-IIS-DIR]
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
DIR=${1:-$ROOT/deploy/iis}
FAILED=0
fail() { echo "FAIL $1"; FAILED=1; }

eval "$("$ROOT/scripts/limits")" || { echo "FAIL the limits are not found in the sources"; exit 1; }
BODY=$BODY_LIMIT
DEADLINE=$MAX_REQUEST_TIMEOUT

for file in "$DIR"/applicationHost.xml "$DIR"/cgi/web.config "$DIR"/fastcgi/web.config; do
  xmllint --noout "$file" || fail "$file: not well-formed XML"
done
HOST=$DIR/applicationHost.xml
value() { xmllint --xpath "string($2)" "$1" 2>/dev/null; }  # value FILE XPATH
seconds() {  # "300" or "hh:mm:ss" as seconds
  if [[ $1 =~ ^([0-9]+):([0-9]+):([0-9]+)$ ]]; then
    echo $((10#${BASH_REMATCH[1]} * 3600 + 10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}))
  else echo "$1"; fi
}
expect() {  # expect FILE XPATH WANTED
  local got
  got=$(value "$1" "$2")
  [ "$got" = "$3" ] || fail "${1#"$DIR"/}: $2 is '$got', not '$3'"
}
above_deadline() {  # above_deadline FILE XPATH: present and above the deadline
  local got
  got=$(seconds "$(value "$1" "$2")")
  [[ $got =~ ^[0-9]+$ ]] && [ "$got" -gt "$DEADLINE" ] ||
    fail "${1#"$DIR"/}: $2 is '$got' s, not above the largest request deadline ($DEADLINE s)"
}

FULL_PATH=$(value "$HOST" //fastCgi/application/@fullPath)
for mode in cgi fastcgi; do
  f=$DIR/$mode/web.config
  expect "$f" //requestLimits/@maxAllowedContentLength "$BODY"
  expect "$f" 'concat(count(//handlers/*), name(//handlers/*[1]))' 2clear
  expect "$f" //handlers/add/@path dorvana.exe
  expect "$f" //handlers/add/@allowPathInfo true
  expect "$f" "//fileExtensions/add[@fileExtension='.def']/@allowed" false
  expect "$f" "count(//hiddenSegments/add[@segment='Orders'])" 1
  expect "$f" //ipSecurity/@allowUnlisted false
  expect "$f" "//ipSecurity/add[@ipAddress='127.0.0.0']/@subnetMask" 255.0.0.0
  expect "$f" //httpErrors/@existingResponse PassThrough
done
expect "$DIR/cgi/web.config" //handlers/add/@modules CgiModule
above_deadline "$DIR/cgi/web.config" //cgi/@timeout
expect "$DIR/fastcgi/web.config" //handlers/add/@modules FastCgiModule
expect "$DIR/fastcgi/web.config" //handlers/add/@scriptProcessor "$FULL_PATH"
expect "$HOST" //isapiCgiRestriction/add/@path "$FULL_PATH"
for attribute in requestTimeout activityTimeout idleTimeout; do
  above_deadline "$HOST" "//fastCgi/application/@$attribute"
done
above_deadline "$HOST" //applicationPools/add/processModel/@shutdownTimeLimit
sig=$(value "$HOST" //fastCgi/application/@signalBeforeTerminateSeconds)
[[ $sig =~ ^[0-9]+$ ]] && [ "$sig" -gt 0 ] || fail "signalBeforeTerminateSeconds is '$sig': no shutdown event"
expect "$HOST" //fastCgi/application/@stderrMode IgnoreAndReturn200
expect "$HOST" "count(//dynamicTypes/add[@enabled='true'][@mimeType='text/xml' or @mimeType='text/html' or @mimeType='text/plain'])" 3
# Any timeout a later edit adds, in any file, as well.
for file in "$HOST" "$DIR"/cgi/web.config "$DIR"/fastcgi/web.config; do
  timeouts=$(xmllint --xpath '//@*[contains(name(), "imeout") or contains(name(), "TimeLimit")]' "$file" 2>/dev/null |
    grep -o '[A-Za-z]*="[^"]*"')
  while IFS='=' read -r name val; do
    [ -n "$name" ] || continue
    s=$(seconds "${val//\"/}")
    [ "$s" -gt "$DEADLINE" ] || fail "${file#"$DIR"/}: $name=$val is not above $DEADLINE s"
  done <<<"$timeouts"
done

# install.ps1 takes every value from those files, and Windows PowerShell reads a
# file without a byte order mark as ANSI: ASCII only.
PS1=$DIR/install.ps1
LC_ALL=C grep -n '[^[:print:][:space:]]' "$PS1" && fail "install.ps1: bytes outside ASCII"
grep -nE '(imeout|TimeLimit|ContentLength|Instances|MaxRequests|Terminate)[A-Za-z]*[^A-Za-z0-9]+[0-9]' "$PS1" &&
  fail "install.ps1: a limit of its own (it must read applicationHost.xml and web.config)"
grep -q "'applicationHost.xml'" "$PS1" && grep -q "'web.config'" "$PS1" ||
  fail "install.ps1: does not read applicationHost.xml and web.config"
if command -v pwsh >/dev/null 2>&1; then
  pwsh -NoProfile -Command "\$e = \$null; [void][System.Management.Automation.Language.Parser]::ParseFile('$PS1', [ref]\$null, [ref]\$e); if (\$e) { \$e; exit 1 }" ||
    fail "install.ps1: does not parse"
else
  echo "skip install.ps1 parse: no pwsh here (PowerShell is not in Debian)"
fi

[ "$FAILED" = 0 ] && echo "ok   deploy/iis: well-formed, body limit $BODY, every timeout above $DEADLINE s"
exit "$FAILED"
