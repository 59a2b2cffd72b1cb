#!/bin/sh
# The Qt-free part of the program built for Windows with MinGW-w64: every library of the core,
# the virtual programmer and the command-line program, linked into tandra-cli.exe. It proves
# that the Windows paths (the vendor library loaded with LoadLibrary, its __stdcall entry
# points, the Windows file code) build.
#   cross-compile.sh SOURCE_DIR GENERATED_INCLUDE_DIR
set -u
source=$1
generated=$2
compiler=x86_64-w64-mingw32-g++-posix
if ! command -v $compiler >/dev/null 2>&1; then
  echo "$compiler not found: the Windows cross-build is skipped (./build.sh test-all installs"
  echo "MinGW-w64 and runs it; by hand: apt-get install g++-mingw-w64-x86-64-posix libz-mingw-w64-dev)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The command-line program's header-only libraries, without the rest of /usr/include (zlib comes
# with MinGW's own, libz-mingw-w64-dev).
mkdir "$work/include"
for library in CLI nlohmann; do
  [ -d /usr/include/$library ] && ln -s /usr/include/$library "$work/include/$library"
done

cd "$source/src"
ls common/*.cpp link/*.cpp image/*.cpp device/*.cpp production/*.cpp files/*.cpp sim/*.cpp cli/*.cpp |
  grep -v -e LibFtdiApi.cpp -e FileReplacePosix.cpp >"$work/sources"
if ! xargs -P 2 -I{} sh -c "$compiler -std=c++20 -Wall -Wextra -Werror -I. -I'$generated' \
      -I'$work/include' -c {} -o '$work/'\$(echo {} | tr / _).o" <"$work/sources"; then
  echo "FAILED: a source does not compile for Windows"
  exit 1
fi
if ! $compiler -static -municode -o "$work/tandra-cli.exe" "$work"/*.o -lz -lbcrypt; then
  echo "FAILED: tandra-cli.exe does not link"
  exit 1
fi
echo "$(wc -l <"$work/sources") sources compiled and linked into tandra-cli.exe"
