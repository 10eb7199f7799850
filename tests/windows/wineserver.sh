# One wine server kept running for a script's many wine programs (each then
# starts in a fraction of a second), in $WINEPREFIX, made first when missing.
# Source it, call wine_server_start, and wine_server_stop in the script's trap.
WINE_SERVER_PID=

wine_server_start() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  wineserver -f -p5 >/dev/null 2>&1 &
  WINE_SERVER_PID=$!
}

wine_server_stop() {
  # The server ends by itself a few seconds after the last program, and with it
  # wine's own service processes, which a killed server would leave behind
  # (holding the script's output open). Killed only when that fails.
  if [ -n "$WINE_SERVER_PID" ]; then
    timeout 60 wineserver -w 2>/dev/null || kill "$WINE_SERVER_PID" 2>/dev/null || true
    wait "$WINE_SERVER_PID" 2>/dev/null || true
    WINE_SERVER_PID=
  fi
}
