#!/usr/bin/env bash
# The demo on a virtual card. Builds what it needs, shows the engine's
# configuration (and its refusal without "AID"), personalises a virtual M4.40
# card, starts a private pcscd with a virtual reader and inserts the card. Then
# the demo program (apps/vexademo) uses the engine as an application does:
# lists slots and tokens, verifies the user PIN under secure messaging (a wrong
# one first), generates an RSA-2048 key pair on the card, signs a SHA-256
# DigestInfo and reads the public key back. The openssl command line checks the
# signature; a removal and reinsertion of the card reaches the engine. Every
# process it started is stopped on exit and the temporary folder removed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
export VEXA_BUILD_DIR=$build

"$root/scripts/install-deps.sh"

echo "== build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target vexakernel vexakernel_load vexacard \
  vexa-vcard vexa-vcard-perso vexa-pcscd-exec vexademo >/dev/null
echo "built: libvexakernel.so libvexacard.so vexa-vcard vexa-vcard-perso vexa-pcscd-exec vexademo"

work=$(mktemp -d /tmp/vexa-demo.XXXXXX)
bed=$work/pcscd
testbed() { "$root/scripts/pcscd-testbed.sh" "$@"; }
cleanup() {
  testbed stop "$bed" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The application the engine works with ("AID") and the one the card holds.
aid_hex=a0,00,00,07,56,45,58,41,01
# The user PIN the personalisation gives the card (never printed, never traced).
user_pin=12345678

cat > "$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

; Configuration of the token engine for this demo.
[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]
"AID"=hex:$aid_hex
"vexakernel"=dword:00000004
"TraceDir"="$work"
"SerializeGDO"=dword:00000003
"Compress Certs"=dword:00000001
"SoftKeyGen"=dword:00000000
REG

echo
echo "== configuration: registry file ($work/registry.reg)"
sed -n '/^\[/,$p' "$work/registry.reg"

echo
echo "== loading libvexakernel.so with it"
VEXA_REGISTRY="$work/registry.reg" "$build/kernel/vexakernel_load" "$build/kernel/libvexakernel.so"
echo "-- what the engine traced about its configuration"
grep -h $'\t' "$work"/*.api | grep -v UnloadSlots | sed 's/^.*\t/   /' || true
rm -f "$work"/*.api

echo
echo "== the same without \"AID\": the engine stays unstarted and every entry point fails"
grep -v '^"AID"' "$work/registry.reg" > "$work/no-aid.reg"
if VEXA_REGISTRY="$work/no-aid.reg" "$build/kernel/vexakernel_load" "$build/kernel/libvexakernel.so"; then
  echo "unexpected: the engine started without \"AID\"" >&2
  exit 1
fi
echo "(refused, as it must be)"
rm -f "$work"/*.api

echo
echo "== virtual card: personalising an M4.40 card image"
image=$work/card.img
"$build/vcard/os/vexa-vcard-perso" --version M4.40 --aid "${aid_hex//,/}" --pin-sm "$image"
echo "card OS M4.40, application ${aid_hex//,/ }, user PIN reference 10 (3 tries, secure messaging only)"

echo
echo "== private pcscd with a virtual reader"
started=
for base in 35960 $((36000 + RANDOM % 2000 * 2)) $((38000 + RANDOM % 2000 * 2)); do
  if testbed start "$bed" 1 "$base" > "$work/bed.out" 2>&1; then started=$base; break; fi
done
if [ -z "$started" ]; then cat "$work/bed.out" >&2; exit 1; fi
grep '^reader' "$work/bed.out"
export PCSCLITE_CSOCK_NAME=$bed/pcscd.comm
echo "pcscd pid $(cat "$bed/pcscd.pid"), socket $PCSCLITE_CSOCK_NAME"

echo
echo "== inserting the card into \"Vexa Reader A 00 00\""
card_log=$bed/card-apdu.log
echo "vexa-vcard pid $(testbed insert "$bed" "$started" "$image" "$card_log")"

echo "Text signed by the card in this demo ($(date -u +%Y-%m-%dT%H:%M:%SZ))." > "$work/message.txt"
q() { printf '%q' "$1"; }
remove_cmd="$(q "$root/scripts/pcscd-testbed.sh") remove $(q "$bed") $started"
insert_cmd="$(q "$root/scripts/pcscd-testbed.sh") insert $(q "$bed") $started $(q "$image") $(q "$card_log") >/dev/null"

printf '%s\n' "$user_pin" | VEXA_REGISTRY="$work/registry.reg" "$build/apps/vexademo/vexademo" \
  --out "$work" --message "$work/message.txt" --remove-cmd "$remove_cmd" --insert-cmd "$insert_cmd"

echo
echo "== independent check of the signature (openssl dgst -sha256 -verify)"
openssl dgst -sha256 -verify "$work/pubkey.pem" -signature "$work/signature.bin" "$work/message.txt"
openssl pkey -pubin -in "$work/pubkey.pem" -noout -text | head -n 1

echo
echo "== the PIN stays out of the engine's trace"
pin_hex=$(printf '%s' "$user_pin" | od -An -tx1 | tr -d ' \n')
if cat "$work"/*.api 2>/dev/null | tr -d ' \n' | tr 'A-F' 'a-f' | grep -q -e "$pin_hex" ||
   grep -q -F "$user_pin" "$work"/*.api 2>/dev/null; then
  echo "the PIN appears in a trace file" >&2
  exit 1
fi
echo "trace lines written: $(cat "$work"/*.api 2>/dev/null | wc -l), none holds the PIN"

echo
echo "== stopping pcscd and the virtual card"
testbed stop "$bed"
echo "done; $work is removed on exit"
