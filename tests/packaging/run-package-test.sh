#!/bin/sh
# The Debian packages as a technician gets them: built from this build and listed; each holding
# its own files and no other's; tandra-cli installable on a machine without Qt, the window
# depending on tandra-cli of its version, each program's debug symbols in its -dbgsym package;
# unpacked into a scratch root and run from there; the programs hardened as the distribution's
# are; the desktop entry and AppStream file validated, lintian without errors or hardening notes
# on every package; 1.1.0's single package upgraded in a scratch dpkg database; a plain
# `cmake --install` giving what the packages give together; and builds without the window or
# without tandra-cli that install nothing naming what they left out.
#   run-package-test.sh BUILD_DIR VERSION SOURCE_DIR
set -u
build=$1
version=$2
source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

if ! command -v dpkg-deb >/dev/null 2>&1 || ! command -v cpack >/dev/null 2>&1; then
  echo "dpkg-deb or cpack not found: skipped"
  exit 77
fi

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; exit 1; }
arch=$(dpkg --print-architecture)
release="$version-1"
cli="$work/out/tandra-cli_${release}_$arch.deb"
window="$work/out/tandra-usb_${release}_$arch.deb"
cli_debug="$work/out/tandra-cli-dbgsym_${release}_$arch.ddeb"
window_debug="$work/out/tandra-usb-dbgsym_${release}_$arch.ddeb"
find "$work/out" -maxdepth 1 \( -name '*.deb' -o -name '*.ddeb' \) -printf '%f\n' | sort >"$work/made"
echo "packages:"
sed 's/^/  /' "$work/made"
for deb in "$cli" "$window" "$cli_debug" "$window_debug"; do
  [ -f "$deb" ] || fail "cpack made no $(basename "$deb")"
done
[ "$(wc -l <"$work/made")" -eq 4 ] || fail "cpack made other packages than these four"
[ "$failures" -eq 0 ] || exit 1

# Each package holds exactly its own files: the rule with tandra-cli, nothing of the window there.
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort; }
expect_files() {  # expect_files DEB PATH...
  deb=$1
  shift
  files_of "$deb" >"$work/got"
  printf '%s\n' "$@" | sort >"$work/wanted"
  diff "$work/wanted" "$work/got" >"$work/diff" || {
    fail "$(basename "$deb") holds other files than its own ('<' missing, '>' not its own):"
    cat "$work/diff"
  }
}
expect_files "$cli" /usr/bin/tandra-cli /usr/lib/udev/rules.d/60-tandra-usb.rules \
  /usr/share/bash-completion/completions/tandra-cli /usr/share/man/man1/tandra-cli.1.gz \
  /usr/share/doc/tandra-cli/copyright /usr/share/doc/tandra-cli/changelog.Debian.gz \
  /usr/share/doc/tandra-cli/NEWS /usr/share/doc/tandra-cli/README.md \
  /usr/share/doc/tandra-cli/tandra-cli-record.schema.json
expect_files "$window" /usr/bin/tandra-usb /usr/share/man/man1/tandra-usb.1.gz \
  /usr/share/applications/org.tandra.TandraUSB.desktop \
  /usr/share/icons/hicolor/scalable/apps/org.tandra.TandraUSB.svg \
  /usr/share/metainfo/org.tandra.TandraUSB.metainfo.xml \
  /usr/share/doc/tandra-usb/copyright /usr/share/doc/tandra-usb/changelog.Debian.gz \
  /usr/share/doc/tandra-usb/NEWS /usr/share/doc/tandra-usb/README.md

dpkg -x "$cli" "$work/cli-root"
dpkg -x "$cli" "$work/root"
dpkg -x "$window" "$work/root"

# tandra-cli on a machine without Qt: no Qt among its dependencies, nor among theirs (from the
# package lists apt has), nor among the libraries the program loads.
cli_depends=$(dpkg-deb -f "$cli" Depends)
window_depends=$(dpkg-deb -f "$window" Depends)
echo "tandra-cli depends on: $cli_depends"
echo "tandra-usb depends on: $window_depends"
echo "$cli_depends" | grep -q libftdi1 || fail "no libftdi1 among tandra-cli's dependencies"
echo "$cli_depends" | grep -qi qt && fail "tandra-cli depends on Qt"
readelf -dW "$work/cli-root/usr/bin/tandra-cli" | grep -i "NEEDED.*qt" && fail "tandra-cli loads Qt"
echo "$window_depends" | grep -qF "tandra-cli (= $release)" \
  || fail "tandra-usb does not depend on tandra-cli $release"
echo "$window_depends" | grep -q libqt6 || fail "no Qt among tandra-usb's dependencies"
for deb in "$cli" "$window"; do
  [ "$(dpkg-deb -f "$deb" Source)" = tandra-usb ] || fail "$(basename "$deb") does not name its source"
done
installed_with() {  # installed_with DEPENDS...: the packages an installation brings, one a line
  printf '%s\n' "$@" | sed 's/([^)]*)//g; s/:any//g; s/[|,]/\n/g' | awk 'NF {print $1}' | grep -vx tandra-cli |
    xargs apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
      --no-replaces --no-enhances 2>/dev/null | grep -v '^ ' | sort -u
}
if command -v apt-cache >/dev/null 2>&1 && apt-cache show libc6 >/dev/null 2>&1; then
  installed_with "$cli_depends" >"$work/cli-brings"
  installed_with "$cli_depends" "$window_depends" >"$work/window-brings"
  echo "tandra-cli brings $(wc -l <"$work/cli-brings") packages," \
       "tandra-usb with it $(wc -l <"$work/window-brings")"
  grep -i qt "$work/cli-brings" && fail "installing tandra-cli brings Qt"
  grep -q libqt6 "$work/window-brings" || fail "the dependencies were not followed: the window's bring no Qt"
else
  echo "apt has no package lists: the dependencies of tandra-cli's dependencies not checked"
fi

# The postinst that reloads udev is in the package with the rule, and only there.
dpkg-deb -e "$cli" "$work/control"
dpkg-deb -e "$window" "$work/window-control"
[ -e "$work/window-control/postinst" ] && fail "tandra-usb has a postinst, but the rule is in tandra-cli"
grep -q "udevadm control --reload" "$work/control/postinst" || fail "postinst does not reload udev"
grep -q "ischroot" "$work/control/postinst" || fail "postinst does not stay out of a chroot"
# Run where no udev listens (as in a chroot or an image being built), it does nothing and ends well.
mkdir -p "$work/nobin"
printf '#!/bin/sh\necho "$*" >>"%s/udevadm.calls"\n' "$work" >"$work/nobin/udevadm"
chmod +x "$work/nobin/udevadm"
if [ ! -S /run/udev/control ]; then
  PATH="$work/nobin:$PATH" sh "$work/control/postinst" configure || fail "postinst configure failed"
  [ -e "$work/udevadm.calls" ] && fail "postinst ran udevadm where no udev runs"
fi

rules="$work/root/usr/lib/udev/rules.d/60-tandra-usb.rules"
grep -q '^ACTION!="add|change", GOTO="tandra_usb_end"' "$rules" || fail "the udev rule has no ACTION guard"
grep -q '^LABEL="tandra_usb_end"' "$rules" || fail "the udev rule's guard has no label to go to"
for package in tandra-cli tandra-usb; do
  [ "$(zcat "$work/root/usr/share/doc/$package/changelog.Debian.gz" | head -1)" = \
    "tandra-usb ($release) unstable; urgency=medium" ] \
    || fail "$package's changelog does not begin with $version"
done
grep -q "<release version=\"$version\"" "$work/root/usr/share/metainfo/org.tandra.TandraUSB.metainfo.xml" \
  || fail "the AppStream release is not $version"

# Each program stripped, with its debug information in its -dbgsym package under its build id,
# where a debugger looks for it.
for program in tandra-cli tandra-usb; do
  elf="$work/root/usr/bin/$program"
  debug_deb="$work/out/$program-dbgsym_${release}_$arch.ddeb"
  [ "$(dpkg-deb -f "$debug_deb" Depends)" = "$program (= $release)" ] \
    || fail "$program-dbgsym does not depend on $program $release"
  build_id=$(readelf -nW "$elf" | sed -n 's/.*Build ID: *//p')
  debug_file=/usr/lib/debug/.build-id/$(echo "$build_id" | cut -c1-2)/$(echo "$build_id" | cut -c3-).debug
  expect_files "$debug_deb" "$debug_file" "/usr/share/doc/$program-dbgsym"
  dpkg-deb -I "$debug_deb" md5sums | grep -qx "[0-9a-f]*  ${debug_file#/}" \
    || fail "$program-dbgsym's md5sums does not name its debug file as the package holds it"
  dpkg -x "$debug_deb" "$work/debug"
  readelf -SW "$work/debug$debug_file" 2>/dev/null | grep -q '\.debug_info' \
    || fail "$program-dbgsym holds no debug information (a build without -g?)"
  readelf -SW "$elf" | grep -q '\.debug_info' && fail "$program is packed with its debug information"
  readelf -SW "$elf" | grep -q '\.gnu_debuglink' || fail "$program does not name its debug file"
done

# Hardened as the distribution's own programs: read-only relocations bound at start, a position-
# independent executable, the stack protector and fortified calls.
for program in tandra-usb tandra-cli; do
  elf="$work/root/usr/bin/$program"
  readelf -lW "$elf" | grep -q GNU_RELRO || fail "$program: no RELRO"
  readelf -dW "$elf" | grep -Eq "BIND_NOW|FLAGS_1.*NOW" || fail "$program: not bound at start (BIND_NOW)"
  readelf -hW "$elf" | grep -q "DYN (" || fail "$program: not position-independent"
  readelf --dyn-syms -W "$elf" | grep -q "__stack_chk_fail" || fail "$program: no stack protector"
  readelf --dyn-syms -W "$elf" | grep -Eq " __[a-z0-9_]+_chk(@| )" || fail "$program: no fortified calls"
done
if command -v hardening-check >/dev/null 2>&1; then
  hardening-check "$work/root/usr/bin/tandra-usb" "$work/root/usr/bin/tandra-cli" || fail "hardening-check"
fi

# tandra-cli as a line computer has it: its package alone.
got=$("$work/cli-root/usr/bin/tandra-cli" --version)
[ "$got" = "tandra-cli $version" ] || fail "tandra-cli --version says '$got', not '$version'"
"$work/cli-root/usr/bin/tandra-cli" devices >"$work/devices" || fail "tandra-cli devices failed"
if ! grep -q "^2716 " "$work/devices" || ! grep -q "^27C2001 " "$work/devices"; then
  cat "$work/devices"
  fail "tandra-cli devices does not list 2716 to 27C2001"
fi
QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/tandra-usb" --help | grep -q "^Usage: tandra-usb" \
  || fail "tandra-usb --help"
QT_QPA_PLATFORM=offscreen timeout 10 "$work/root/usr/bin/tandra-usb" --help-all | grep -q "^Usage: tandra-usb" \
  || fail "tandra-usb --help-all"
got=$(QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/tandra-usb" --version)
[ "$got" = "tandra-usb $version" ] || fail "tandra-usb --version says '$got'"

if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$work/root/usr/share/applications/org.tandra.TandraUSB.desktop" \
    || fail "desktop-file-validate"
else
  echo "desktop-file-validate not found: not checked"
fi
if command -v appstreamcli >/dev/null 2>&1; then
  appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.tandra.TandraUSB.metainfo.xml" \
    || fail "appstreamcli validate"
else
  echo "appstreamcli not found: not checked"
fi
if command -v lintian >/dev/null 2>&1; then
  for deb in "$cli" "$window" "$cli_debug" "$window_debug"; do
    lintian --display-info "$deb" >"$work/lintian" 2>&1
    echo "lintian $(basename "$deb"):"
    cat "$work/lintian"
    if grep -q "^E:" "$work/lintian"; then fail "lintian reports errors on $(basename "$deb")"; fi
    if grep -q "hardening" "$work/lintian"; then fail "lintian has a hardening note on $(basename "$deb")"; fi
  done
else
  echo "lintian not found: not checked"
fi

sh "$source/tests/packaging/check-upgrade.sh" "$work/upgrade" "$cli" "$window" || fail "upgrade from 1.1.0"

# A plain installation gives what the two packages give together.
cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
(cd "$work/prefix" && find . -type f | sed 's|^\./|/usr/|' | sort) >"$work/installed"
{ files_of "$cli"; files_of "$window"; } | sort >"$work/packed"
diff "$work/packed" "$work/installed" \
  || fail "cmake --install and the packages give other files ('>' only installed)"

# Builds without a part: what they would install, read from their install scripts (configured,
# not built), names nothing they left out.
cmake -S "$source" -B "$work/no-window" -DTANDRA_BUILD_GUI=OFF -DTANDRA_BUILD_TESTS=OFF \
  -DTANDRA_BUILD_BENCH=OFF >/dev/null || fail "configure without the window"
if grep -rqE "applications|metainfo|icons|tandra-usb\.1|doc/tandra-usb" --include=cmake_install.cmake \
     "$work/no-window"; then
  fail "a build without the window installs its desktop entry, AppStream file, icon, page or documents"
fi
cmake -S "$source" -B "$work/no-cli" -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DTANDRA_BUILD_TESTS=OFF \
  -DTANDRA_BUILD_BENCH=OFF >/dev/null || fail "configure without tandra-cli"
if grep -rlq "tandra-cli" --include=cmake_install.cmake --include=CPackConfig.cmake \
     --include='*.metainfo.xml' "$work/no-cli"; then
  grep -rl "tandra-cli" --include=cmake_install.cmake --include=CPackConfig.cmake \
    --include='*.metainfo.xml' "$work/no-cli"
  fail "a build without tandra-cli names it in what it installs"
fi
# There the window's package carries the rule and the postinst that reloads udev.
cmake --build "$work/no-cli" --target debian_changelog >/dev/null || fail "the changelog without tandra-cli"
cmake -DCMAKE_INSTALL_COMPONENT=window -DCMAKE_INSTALL_PREFIX="$work/no-cli-window" \
  -P "$work/no-cli/packaging/cmake_install.cmake" >/dev/null \
  || fail "install the window's files without tandra-cli"
[ -f "$work/no-cli-window/lib/udev/rules.d/60-tandra-usb.rules" ] \
  || fail "without tandra-cli the window has no udev rule"
grep -q "CPACK_DEBIAN_WINDOW_PACKAGE_CONTROL_EXTRA.*postinst" "$work/no-cli/CPackConfig.cmake" \
  || fail "without tandra-cli the window's package does not reload udev"

[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
