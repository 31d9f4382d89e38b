#!/usr/bin/env bash
# Installs and starts a local Firebird server (as root) for the tests that reach a database as
# "localhost:" + path. Does nothing that is already done; safe to run again.
#   scripts/servidor-firebird.sh          install, set the SYSDBA password, start fbguard
# The server's databases live in /tmp/firebird, a folder the firebird user owns.
set -euo pipefail
source "$(dirname "$0")/comum.sh"
[ "$(id -u)" -eq 0 ] || { echo "Execute como root." >&2; exit 1; }

pasta=/tmp/firebird
seguranca=/var/lib/firebird/3.0/system/security3.fdb

responde() { (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; }

if [ -n "$(pacotes_faltando firebird3.0-server)" ]; then
  echo "Instalando firebird3.0-server" >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq firebird3.0-server firebird3.0-utils >/dev/null
fi

mkdir -p "$pasta"
chown firebird:firebird "$pasta"
chmod 0770 "$pasta"

if responde; then
  echo "Servidor Firebird já responde em localhost:3050." >&2
  exit 0
fi

# The security database is opened embedded, which only works while no server holds it.
echo "create or alter user SYSDBA password 'quillbank'; commit;" | isql-fb -q -user SYSDBA "$seguranca"
chown firebird:firebird "$seguranca"
su -s /bin/sh firebird -c "/usr/sbin/fbguard -daemon -forever"

for _ in $(seq 1 150); do
  if responde; then
    echo "Servidor Firebird iniciado em localhost:3050 (pare-o pelo pid do fbguard)." >&2
    exit 0
  fi
  sleep 0.2
done
echo "O servidor Firebird não respondeu em localhost:3050." >&2
exit 1
