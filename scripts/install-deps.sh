#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent and non-interactive: only missing packages are installed.
set -euo pipefail

packages=(
  cmake g++ make pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev
  libssl-dev openssl zlib1g-dev ca-certificates
  pcscd libpcsclite-dev vsmartcard-vpcd
  libp11-kit-dev iproute2 procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
