#!/usr/bin/env bash
# The demo: builds the token engine, writes a registry file for it in a temporary
# folder, loads the engine as a client program does, and shows the trace lines in
# which the engine reports the configuration it read. A second load without the
# "AID" value shows the engine refusing to start and saying why.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"

echo "== build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target vexakernel vexakernel_load

work=$(mktemp -d /tmp/vexa-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT

cat > "$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

; Configuration of the token engine for this demo.
[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]
"AID"=hex:a0,00,00,00,63,50,4b,43,53,2d,31,35
"vexakernel"=dword:00000004
"TraceDir"="$work"
"SerializeGDO"=dword:00000003
"Compress Certs"=dword:00000001
"SoftKeyGen"=dword:00000000
REG

echo
echo "== registry file ($work/registry.reg)"
cat "$work/registry.reg"

echo
echo "== loading libvexakernel.so"
VEXA_REGISTRY="$work/registry.reg" "$build/kernel/vexakernel_load" "$build/kernel/libvexakernel.so"

echo
echo "== the engine's trace"
for f in "$work"/*.api; do
  echo "-- $f"
  cat "$f"
done
rm -f "$work"/*.api

echo
echo "== the same without \"AID\": the engine stays unstarted and every entry point fails"
grep -v '^"AID"' "$work/registry.reg" > "$work/no-aid.reg"
if VEXA_REGISTRY="$work/no-aid.reg" "$build/kernel/vexakernel_load" "$build/kernel/libvexakernel.so"; then
  echo "unexpected: the engine started without \"AID\"" >&2
  exit 1
fi
echo "(refused, as it must be)"
