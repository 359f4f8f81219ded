#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

# python3-pefile: a native test compares the version reader with pefile on
# every module of Wine. wine64 and g++-mingw-w64-x86-64: the 64-bit flavour.
# libexpat1-dev: manifests; libhivex-dev: the known DLLs of a SYSTEM hive;
# llvm-14-dev: LLVM's demangler library, which reads Microsoft decorated names natively.
# lld: the linker that writes a delay-load directory (the check's and the recorder's test programs).
packages=(g++ make cmake googletest libbenchmark-dev clang libclang-rt-14-dev llvm lld
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 fonts-wine xvfb xauth
  nsis imagemagick xdotool icoutils pev python3 python3-pefile libexpat1-dev libhivex-dev pkg-config llvm-14-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
