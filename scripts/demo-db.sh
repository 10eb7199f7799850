#!/usr/bin/env bash
# Creates the demo restaurant database.
#
#   scripts/demo-db.sh PATH              a local database file, for the embedded engine
#   scripts/demo-db.sh HOST:PATH         a database on a running server, e.g.
#                                        127.0.0.1:/work/main/.run/demo.fdb; it gets a
#                                        linger of 60 seconds, so that one request per
#                                        process does not open and close it every time
#
# An existing database of that name is replaced. The account comes from
# DORVANA_DB_USER and DORVANA_DB_PASSWORD (default DORVANA / dorvana on a server,
# SYSDBA for a local file). Extra SQL scripts named after the database run last.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
db=${1:?usage: demo-db.sh PATH or HOST:PATH [extra.sql ...]}
shift

case "$db" in
  *:*) server=1; path=${db#*:};  user=${DORVANA_DB_USER:-DORVANA}; password=${DORVANA_DB_PASSWORD:-dorvana} ;;
  *)   server=0; path=$db;       user=${DORVANA_DB_USER:-SYSDBA};  password=${DORVANA_DB_PASSWORD:-masterkey} ;;
esac

isql() { isql-fb -q -b -sql_dialect 1 -user "$user" -password "$password" "$@"; }

if [ "$server" = 1 ]; then
  # Drop an old one through the server, which may still hold it open.
  if [ -e "$path" ]; then
    printf "set names WIN1251;\nconnect '%s';\ndrop database;\n" "$db" | isql >/dev/null 2>&1 || rm -f "$path"
  fi
else
  rm -f "$path"
fi
mkdir -p "$(dirname "$path")"

tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
{
  printf "set sql dialect 1;\nset names WIN1251;\n"
  printf "create database '%s' page_size 8192 default character set WIN1251;\n" "$db"
  [ "$server" = 1 ] && printf "alter database set linger to 60;\ncommit;\n"
  cat "$here/db/schema.sql" "$here/db/demo-data.sql"
  for extra in "$@"; do cat "$extra"; done
} > "$tmp"
isql -i "$tmp"
