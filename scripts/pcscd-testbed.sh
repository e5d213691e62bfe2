#!/usr/bin/env bash
# A private pcscd with vpcd virtual readers, and virtual cards in them, for the
# demo and for trying things by hand (tests use the C++ test bed in vcard/testbed).
#
#   pcscd-testbed.sh start DIR [N] [BASEPORT]
#       N reader entries (default 1), each with its own copy of the vpcd driver:
#       readers "Vexa Reader A 00 00" (port BASEPORT) and "Vexa Reader A 00 01"
#       (BASEPORT+1), "Vexa Reader B 00 00" (BASEPORT+2), ... (default BASEPORT
#       35960). Starts pcscd on its own socket DIR/pcscd.comm and prints the
#       line to give clients: export PCSCLITE_CSOCK_NAME=DIR/pcscd.comm
#   pcscd-testbed.sh insert DIR PORT IMAGE [LOG]
#       Puts a virtual card (vexa-vcard with the card image) into the reader on
#       PORT; its APDU log goes to LOG (default DIR/card-PORT.log).
#   pcscd-testbed.sh remove DIR PORT
#       Takes that card out.
#   pcscd-testbed.sh stop DIR
#       Takes every card out and stops pcscd by its pid.
#
# Programs: $VEXA_BUILD_DIR (default ./build) holds vexa-vcard and
# vexa-pcscd-exec; VEXA_VCARD and VEXA_PCSCD_EXEC may name them directly.
# Waits have time limits; nothing sleeps a fixed time waiting for an event.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
vcard=${VEXA_VCARD:-$build/vcard/reader/vexa-vcard}
pcscd_exec=${VEXA_PCSCD_EXEC:-$build/vcard/testbed/vexa-pcscd-exec}

die() { echo "pcscd-testbed: $*" >&2; exit 1; }

# wait_for SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.05
  done
}

alive() { kill -0 "$1" 2>/dev/null; }
gone() { ! alive "$1"; }

# stop_pid PID: SIGTERM, up to 10 s, then SIGKILL as a last resort.
stop_pid() {
  local pid=$1
  alive "$pid" || return 0
  kill "$pid" 2>/dev/null || true
  wait_for 10 gone "$pid" && return 0
  kill -KILL "$pid" 2>/dev/null || true
  wait_for 5 gone "$pid"
}

listening() { ss -Hltn "sport = :$1" | grep -q .; }
connected() { ss -Htn state established "dport = :$1" | grep -q .; }

find_driver() {
  local d
  d=$(pkg-config --variable=usbdropdir libpcsclite 2>/dev/null || true)
  for dir in ${d:+$d/serial} /usr/lib/pcsc/drivers/serial /usr/local/lib/pcsc/drivers/serial; do
    for f in "$dir"/libifdvpcd.so*; do
      [ -f "$f" ] && { echo "$f"; return 0; }
    done
  done
  return 1
}

cmd_start() {
  local dir=${1:?usage: start DIR [N] [BASEPORT]} n=${2:-1} base=${3:-35960}
  [[ "$n" =~ ^[1-8]$ ]] || die "N must be 1 to 8 (pcscd serves at most 16 readers)"
  [[ "$base" =~ ^[0-9]+$ ]] && [ "$base" -ge 1024 ] && [ "$base" -le 65000 ] || die "bad base port $base"
  [ -x "$pcscd_exec" ] || die "$pcscd_exec is not built"
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  if [ -f "$dir/pcscd.pid" ] && alive "$(cat "$dir/pcscd.pid")"; then die "a pcscd already runs for $dir"; fi
  local driver
  driver=$(find_driver) || die "the vpcd driver is not installed (Debian package vsmartcard-vpcd)"
  rm -rf "$dir/reader.conf.d" "$dir/drivers"
  mkdir -p "$dir/reader.conf.d" "$dir/drivers"
  local k port letters=ABCDEFGH
  for ((k = 0; k < n; k++)); do
    port=$((base + 2 * k))
    if listening "$port" || listening $((port + 1)); then die "port $port or $((port + 1)) is taken"; fi
    cp "$driver" "$dir/drivers/libifdvpcd-$k.so"
    printf 'FRIENDLYNAME "Vexa Reader %s"\nDEVICENAME /dev/null:%d\nLIBPATH %s\nCHANNELID %d\n' \
      "${letters:k:1}" "$port" "$dir/drivers/libifdvpcd-$k.so" "$port" > "$dir/reader.conf.d/vexa-reader-$k"
  done
  "$pcscd_exec" "$dir/pcscd.comm" --foreground --config "$dir/reader.conf.d" > "$dir/pcscd.log" 2>&1 &
  local pid=$!
  echo "$pid" > "$dir/pcscd.pid"
  echo "$base $n" > "$dir/ports"
  all_listening() {
    alive "$pid" || return 0
    for ((k = 0; k < n; k++)); do
      listening $((base + 2 * k)) && listening $((base + 2 * k + 1)) || return 1
    done
  }
  if ! wait_for 15 all_listening || ! alive "$pid"; then
    cat "$dir/pcscd.log" >&2
    stop_pid "$pid" || true
    die "pcscd did not start"
  fi
  for ((k = 0; k < n; k++)); do
    echo "reader \"Vexa Reader ${letters:k:1} 00 00\" port $((base + 2 * k))"
    echo "reader \"Vexa Reader ${letters:k:1} 00 01\" port $((base + 2 * k + 1))"
  done
  echo "export PCSCLITE_CSOCK_NAME=$dir/pcscd.comm"
}

cmd_insert() {
  local dir=${1:?usage: insert DIR PORT IMAGE [LOG]} port=${2:?PORT} image=${3:?IMAGE}
  local log=${4:-$dir/card-$port.log}
  [ -x "$vcard" ] || die "$vcard is not built"
  [ -f "$dir/pcscd.pid" ] && alive "$(cat "$dir/pcscd.pid")" || die "no pcscd runs for $dir"
  if [ -f "$dir/card-$port.pid" ] && alive "$(cat "$dir/card-$port.pid")"; then die "a card is already in port $port"; fi
  "$vcard" --port "$port" --image "$image" --log "$log" >> "$dir/card-$port.out" 2>&1 &
  local pid=$!
  echo "$pid" > "$dir/card-$port.pid"
  card_up() { gone "$pid" || connected "$port"; }
  if ! wait_for 10 card_up || gone "$pid"; then
    cat "$dir/card-$port.out" >&2
    die "the card did not reach the reader on port $port"
  fi
  echo "$pid"
}

cmd_remove() {
  local dir=${1:?usage: remove DIR PORT} port=${2:?PORT}
  [ -f "$dir/card-$port.pid" ] || return 0
  stop_pid "$(cat "$dir/card-$port.pid")" || die "the card on port $port did not end"
  rm -f "$dir/card-$port.pid"
}

cmd_stop() {
  local dir=${1:?usage: stop DIR} f
  for f in "$dir"/card-*.pid; do
    [ -f "$f" ] || continue
    stop_pid "$(cat "$f")" || true
    rm -f "$f"
  done
  if [ -f "$dir/pcscd.pid" ]; then
    stop_pid "$(cat "$dir/pcscd.pid")" || die "pcscd did not end"
    rm -f "$dir/pcscd.pid"
  fi
  rm -f "$dir/pcscd.comm"
}

case "${1:-}" in
  start) shift; cmd_start "$@" ;;
  insert) shift; cmd_insert "$@" ;;
  remove) shift; cmd_remove "$@" ;;
  stop) shift; cmd_stop "$@" ;;
  *) sed -n '2,21p' "$0" >&2; exit 2 ;;
esac
