#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

# python3-pefile: a native test compares the version reader with pefile on
# every module of Wine. wine64 and g++-mingw-w64-x86-64: the 64-bit flavour.
# libexpat1-dev: manifests; libhivex-dev: the known DLLs of a SYSTEM hive;
# llvm-14-dev: LLVM's demangler library, which reads Microsoft decorated names natively, and its
# header-only Itanium parser, which measures Itanium names in every build.
# lld: lld-link, which writes delay-load directories (GNU ld leaves them empty): the check's,
# the page's and the recorder's test programs.
# wine64-tools: winedump, which reads NE modules' entry tables and relocations for the tests
# (it brings libwine-dev, whose import libraries sit beside Wine's PE files).
# mono-mcs, mono-runtime, mono-utils: C# test programs (mcs), the runtime the
# managed bindings are compared with (mono) and the metadata reader the
# managed reader is compared with (monodis); libmono-cil-dev: mono's assemblies
# in its global assembly cache, a few hundred real managed files; openssl: the
# test programs' strong-name key.
packages=(g++ make cmake googletest libbenchmark-dev clang lld libclang-rt-14-dev llvm
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 fonts-wine xvfb xauth
  nsis imagemagick xdotool icoutils pev python3 python3-pefile libexpat1-dev libhivex-dev pkg-config llvm-14-dev
  wine64-tools mono-mcs mono-runtime mono-utils libmono-cil-dev openssl)

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
