#!/bin/sh
# Builds the managed test programs with mcs, and the native modules beside
# them with a mingw-w64 C compiler, into OUT, laid out as the cases the tests
# read. The strong name's key is made here (openssl: a PVK file is a 24-byte
# header and the key blob that an .snk file holds).
#   build.sh SOURCE_DIR OUT CC
# Without mcs, openssl or monodis it writes OUT/missing and nothing else.
set -eu
src=$1
out=$2
cc=$3
rm -rf "$out"
mkdir -p "$out"
for tool in mcs openssl monodis; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool" >"$out/missing"
        exit 0
    fi
done
cd "$out"
mcs() { command mcs -nologo "$@"; }
openssl genrsa -out key.pem 1024 2>/dev/null
openssl rsa -in key.pem -outform PVK -pvk-none -out key.pvk 2>/dev/null
tail -c +25 key.pvk >key.snk
mkdir v0 v1 v2
mcs -target:library -keyfile:key.snk -out:v1/Strong.dll "$src/Strong.cs"
mcs -target:library -keyfile:key.snk -d:V2 -out:v2/Strong.dll "$src/Strong.cs"
mcs -target:library -keyfile:key.snk -d:V0 -out:v0/Strong.dll "$src/Strong.cs"
mcs -target:library -out:Gone.dll "$src/Gone.cs"
mcs -target:library -out:Lib.dll "$src/Lib.cs"
mcs -r:v1/Strong.dll -r:Lib.dll -r:Gone.dll -r:System.Xml.dll -out:app.exe "$src/App.cs"
# The same program as a .NET 5+ app's assembly, which an app host starts.
mcs -r:v1/Strong.dll -r:Lib.dll -r:Gone.dll -r:System.Xml.dll -out:app.dll "$src/App.cs"
rm Gone.dll
# A program of the 2.0 runtime: the metadata's version text is all that
# tells it from a 4.0 one (same length, one occurrence).
LC_ALL=C sed 's/v4\.0\.30319/v2.0.50727/' app.exe >app2.exe
"$cc" -O2 -shared -nostdlib -o vostnative.dll "$src/vostnative.c"
"$cc" -O2 -o vosthost.exe "$src/vosthost.c"
token=$(monodis --assemblyref app.exe | awk '/Name=Strong$/ { s = 1 } s && /^0x00000000:/ {
    for (i = 2; i <= 9; i++) printf "%s", tolower($i); exit }')
echo "$token" >token

# The cases of .NET Framework's binding, one folder each.
case_folder() {  # NAME PROGRAM FILES...: the program and the files beside it
    name=$1 program=$2
    shift 2
    mkdir -p "$name"
    cp "$program" "$name/"
    for file in "$@"; do cp "$file" "$name/"; done
}
case_folder private app.exe Lib.dll v1/Strong.dll vostnative.dll
case_folder privatepath app.exe
mkdir privatepath/bin privatepath/lib
cp Lib.dll vostnative.dll privatepath/bin/ && cp v1/Strong.dll privatepath/lib/
cp "$src/privatepath.config" privatepath/app.exe.config
case_folder redirect app.exe Lib.dll v2/Strong.dll vostnative.dll
sed "s/@TOKEN@/$token/" "$src/redirect.config.in" >redirect/app.exe.config
case_folder wrongversion app.exe Lib.dll v2/Strong.dll vostnative.dll
case_folder cache app.exe Lib.dll vostnative.dll
case_folder cacheandfolder app.exe Lib.dll v1/Strong.dll vostnative.dll
case_folder v2program app2.exe Lib.dll v1/Strong.dll vostnative.dll
case_folder v2config app2.exe Lib.dll v1/Strong.dll vostnative.dll
cp "$src/v4runtime.config" v2config/app2.exe.config

# A Windows folder whose global assembly cache holds mono's assemblies.
msil=windows/Microsoft.NET/assembly/GAC_MSIL
for folder in /usr/lib/mono/gac/*/*/; do
    name=$(basename "$(dirname "$folder")")
    id=$(basename "$folder")
    mkdir -p "$msil/$name/v4.0_$id"
    for file in "$folder"*.dll "$folder"*.exe; do
        [ -e "$file" ] && ln -s "$file" "$msil/$name/v4.0_$id/"
    done
done
mkdir -p windows/Microsoft.NET/assembly/GAC_32/mscorlib/v4.0_4.0.0.0__b77a5c561934e089
ln -s /usr/lib/mono/4.5/mscorlib.dll windows/Microsoft.NET/assembly/GAC_32/mscorlib/v4.0_4.0.0.0__b77a5c561934e089/
# The 4 runtime, installed for 32-bit processes (its engine's file marks it).
mkdir -p windows/Microsoft.NET/Framework/v4.0.30319
: >windows/Microsoft.NET/Framework/v4.0.30319/clr.dll
# A 32-bit Windows: Wine's modules stand for its system folder.
if [ -d /usr/lib/i386-linux-gnu/wine/i386-windows ]; then
    ln -s /usr/lib/i386-linux-gnu/wine/i386-windows windows/system32
else
    mkdir windows/system32
fi
# The same with Strong 1.0.0.0 in its cache, and mono's own cache of it
# (MONO_GAC_PREFIX).
cp -a windows windows-strong
cached=windows-strong/Microsoft.NET/assembly/GAC_MSIL/Strong/v4.0_1.0.0.0__$token
mkdir -p "gac/lib/mono/gac/Strong/1.0.0.0__$token" "$cached"
cp v1/Strong.dll "gac/lib/mono/gac/Strong/1.0.0.0__$token/"
ln -s "$out/gac/lib/mono/gac/Strong/1.0.0.0__$token/Strong.dll" "$cached/"
rm -f key.pem key.pvk
