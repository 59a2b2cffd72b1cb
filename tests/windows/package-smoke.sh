#!/bin/sh
# The Windows release as its user gets it: the zip made, unpacked into a folder of its own, and
# the tandra-cli.exe in it run under Wine: --version, devices, and a program run on the virtual
# programmer. The program must need no DLL beside it but Windows' own.
#   package-smoke.sh CMAKE BUILD_DIR VERSION OBJDUMP EMULATOR
set -u
cmake=$1 build=$2 version=$3 objdump=$4 emulator=$5
failed() { echo "FAILED: $*"; exit 1; }

# What stopped the zip is CMake's error, not make's last lines; a full disk shows in df.
"$cmake" --build "$build" --target windows-zip >"$build/windows-zip.log" 2>&1 ||
  failed "the zip was not made: $(grep -A8 "CMake Error" "$build/windows-zip.log" ||
    tail -5 "$build/windows-zip.log")
$(df -h "$build" | tail -1)"
zip="$build/tandra-cli-$version-windows-x64.zip"
[ -s "$zip" ] || failed "no $zip"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$cmake" -E tar xf "$zip") || failed "the zip does not unpack"
folder="$work/tandra-cli-$version-windows-x64"
for file in tandra-cli.exe tandra-cli.txt README-Windows.txt LICENSES.txt \
            licenses/tandra-usb.txt licenses/CLI11.txt licenses/nlohmann-json.txt \
            licenses/zlib.txt licenses/mingw-w64-runtime.txt licenses/gcc-runtime.txt; do
  [ -s "$folder/$file" ] || failed "the zip lacks $file"
done
grep -q "^tandra-cli - " "$folder/tandra-cli.txt" ||
  grep -q "tandra-cli - program" "$folder/tandra-cli.txt" || failed "tandra-cli.txt is no manual"
head -1 "$folder/README-Windows.txt" | grep -q "^## Windows" || failed "README-Windows.txt"

# Statically linked: only Windows' own DLLs.
imports=$("$objdump" -p "$folder/tandra-cli.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
for dll in $imports; do
  case $dll in
    kernel32.dll | msvcrt.dll | advapi32.dll | bcrypt.dll | user32.dll | shell32.dll | ws2_32.dll) ;;
    api-ms-win-*) ;;
    *) failed "tandra-cli.exe needs $dll beside it" ;;
  esac
done

cd "$folder" || exit 1
run() {  # run EXPECTED_CODE WORD...: tandra-cli.exe under Wine; its output in $out
  expected=$1
  shift
  out=$("$emulator" ./tandra-cli.exe "$@" 2>&1)
  code=$?
  [ $code -eq 77 ] && [ "$expected" -ne 77 ] && { echo "$out"; exit 77; }
  [ $code -eq "$expected" ] || failed "tandra-cli.exe $* ended with $code: $out"
}
run 0 --version
echo "$out" | grep -q "$version" || failed "--version says: $out"
run 0 devices
echo "$out" | grep -q "27C256" || failed "devices lists: $out"
head -c 2048 /dev/urandom >image.bin
run 0 program -d 2716 -n 2 image.bin --virtual
echo "$out" | grep -q "2 of 2 sockets passed" || failed "program --virtual says: $out"
echo "the zip's tandra-cli.exe runs: $(ls -l "$zip" | awk '{print $5}') bytes"
