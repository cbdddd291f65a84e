#!/usr/bin/env bash
# Quillpost's main job, on any machine: builds Quillpost, starts a local SMTP server
# (aiosmtpd on a free loopback port, storing into build/demo/mail), sends a message with
# an attachment through quillpost-send, shows what the server stored, stops the server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target quillpost quillpost-send

demo=build/demo
rm -rf "$demo" && mkdir -p "$demo/mail"
/usr/bin/python3 tests/support/smtp_server.py "$demo/mail" >"$demo/port" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 150); do [ -s "$demo/port" ] && break; sleep 0.1; done
port=$(head -n 1 "$demo/port")
[ -n "$port" ] || { echo "the local SMTP server did not start" >&2; exit 1; }
echo "Local SMTP server (aiosmtpd) listening on 127.0.0.1:$port, storing into $demo/mail"

printf '[account1]\r\nmailserver=127.0.0.1:%s\r\nuserid=demo\r\nname=Quillpost Demo\r\nreplyto=demo@localhost\r\naccountname=Demo\r\n' \
  "$port" >"$demo/quillpost.ini"
printf 'Hello from Quillpost.\nThe README is attached.\n' |
  build/src/app/quillpost-send --config "$demo/quillpost.ini" --subject "Quillpost demo" \
    --attach README.md friend@localhost

echo
echo "== What the server stored ($demo/mail/1.eml), first 40 lines:"
head -n 40 "$demo/mail/1.eml"
echo "..."
echo "== Envelope: $(tr '\n' ' ' <"$demo/mail/1.envelope")"
if cmp -s "$demo/mail/1.1.mime" README.md; then
  echo "== The attachment decoded by the server equals README.md."
else
  echo "== The attachment decoded by the server differs from README.md!" >&2
  exit 1
fi
