#!/bin/sh
# /usr/sbin/dorvana: the operator's tools (dorvana --check, --orders, --replay,
# --rotate, --help) run in the program's working folder as the web server's user,
# so that the folder rights are that user's and the archive copies the tools move
# keep their owner. Root becomes www-data; www-data runs the program as it is;
# anyone else is refused.
set -u
folder=/var/lib/dorvana
user=www-data
if ! cd "$folder" 2>/dev/null; then
  echo "dorvana: cannot change to $folder (is the package installed?)" >&2
  exit 1
fi
if [ "$(id -u)" = 0 ]; then
  exec setpriv --reuid="$user" --regid="$user" --init-groups --inh-caps=-all \
    ./dorvana "$@"
fi
if [ "$(id -un 2>/dev/null)" = "$user" ]; then
  exec ./dorvana "$@"
fi
echo "dorvana: the tools run as $user; run this as root (sudo dorvana ...) or as $user" >&2
exit 77
