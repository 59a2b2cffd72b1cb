#!/bin/sh
# The Debian package as a technician gets it: built from this build, listed, unpacked into a
# scratch root and run from there; its programs hardened as the distribution's are; its desktop
# entry and AppStream file validated, lintian without errors or hardening notes; a plain
# `cmake --install` into a prefix of one's own; and builds without the window or without
# tandra-cli that install nothing naming what they left out.
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
deb=$(ls "$work"/out/*.deb)
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | sort >"$work/contents"
cat "$work/contents"
for path in /usr/bin/tandra-usb /usr/bin/tandra-cli /usr/lib/udev/rules.d/60-tandra-usb.rules \
            /usr/share/applications/org.tandra.TandraUSB.desktop \
            /usr/share/icons/hicolor/scalable/apps/org.tandra.TandraUSB.svg \
            /usr/share/metainfo/org.tandra.TandraUSB.metainfo.xml \
            /usr/share/doc/tandra-usb/copyright /usr/share/doc/tandra-usb/changelog.Debian.gz \
            /usr/share/doc/tandra-usb/NEWS /usr/share/doc/tandra-usb/README.md \
            /usr/share/doc/tandra-usb/tandra-cli-record.schema.json \
            /usr/share/man/man1/tandra-usb.1.gz /usr/share/man/man1/tandra-cli.1.gz \
            /usr/share/bash-completion/completions/tandra-cli; do
  grep -qx "$path" "$work/contents" || fail "the package lacks $path"
done
dpkg-deb -f "$deb" Depends | grep -q libftdi1 || fail "no libftdi1 among the dependencies"
dpkg-deb -e "$deb" "$work/control"
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

dpkg -x "$deb" "$work/root"
rules="$work/root/usr/lib/udev/rules.d/60-tandra-usb.rules"
grep -q '^ACTION!="add|change", GOTO="tandra_usb_end"' "$rules" || fail "the udev rule has no ACTION guard"
grep -q '^LABEL="tandra_usb_end"' "$rules" || fail "the udev rule's guard has no label to go to"
[ "$(zcat "$work/root/usr/share/doc/tandra-usb/changelog.Debian.gz" | head -1)" = \
  "tandra-usb ($version-1) unstable; urgency=medium" ] || fail "the changelog does not begin with $version"
grep -q "<release version=\"$version\"" "$work/root/usr/share/metainfo/org.tandra.TandraUSB.metainfo.xml" \
  || fail "the AppStream release is not $version"

# Hardened as the distribution's own programs: read-only relocations bound at start, a position-
# independent executable, the stack protector and fortified calls.
if command -v readelf >/dev/null 2>&1; then
  for program in tandra-usb tandra-cli; do
    elf="$work/root/usr/bin/$program"
    readelf -lW "$elf" | grep -q GNU_RELRO || fail "$program: no RELRO"
    readelf -dW "$elf" | grep -Eq "BIND_NOW|FLAGS_1.*NOW" || fail "$program: not bound at start (BIND_NOW)"
    readelf -hW "$elf" | grep -q "DYN (" || fail "$program: not position-independent"
    readelf --dyn-syms -W "$elf" | grep -q "__stack_chk_fail" || fail "$program: no stack protector"
    readelf --dyn-syms -W "$elf" | grep -Eq " __[a-z0-9_]+_chk(@| )" || fail "$program: no fortified calls"
  done
else
  echo "readelf not found: hardening not checked"
fi
if command -v hardening-check >/dev/null 2>&1; then
  hardening-check "$work/root/usr/bin/tandra-usb" "$work/root/usr/bin/tandra-cli" || fail "hardening-check"
fi
got=$("$work/root/usr/bin/tandra-cli" --version)
[ "$got" = "tandra-cli $version" ] || fail "tandra-cli --version says '$got', not '$version'"
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
  lintian --display-info "$deb" >"$work/lintian" 2>/dev/null
  cat "$work/lintian"
  if grep -q "^E:" "$work/lintian"; then fail "lintian reports errors"; fi
  if grep -q "hardening" "$work/lintian"; then fail "lintian has a hardening note"; fi
else
  echo "lintian not found: not checked"
fi

cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
for path in bin/tandra-usb bin/tandra-cli lib/udev/rules.d/60-tandra-usb.rules \
            share/applications/org.tandra.TandraUSB.desktop share/metainfo/org.tandra.TandraUSB.metainfo.xml; do
  [ -f "$work/prefix/$path" ] || fail "cmake --install put no $path under the prefix"
done

# Builds without a part: what they would install, read from their install scripts (configured,
# not built), names nothing they left out.
cmake -S "$source" -B "$work/no-window" -DTANDRA_BUILD_GUI=OFF -DTANDRA_BUILD_TESTS=OFF \
  -DTANDRA_BUILD_BENCH=OFF >/dev/null || fail "configure without the window"
if grep -rqE "applications|metainfo|icons|tandra-usb\.1" --include=cmake_install.cmake "$work/no-window"; then
  fail "a build without the window installs its desktop entry, AppStream file, icon or page"
fi
cmake -S "$source" -B "$work/no-cli" -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DTANDRA_BUILD_TESTS=OFF \
  -DTANDRA_BUILD_BENCH=OFF >/dev/null || fail "configure without tandra-cli"
if grep -rlq "tandra-cli" --include=cmake_install.cmake --include=CPackConfig.cmake \
     --include='*.metainfo.xml' "$work/no-cli"; then
  grep -rl "tandra-cli" --include=cmake_install.cmake --include=CPackConfig.cmake \
    --include='*.metainfo.xml' "$work/no-cli"
  fail "a build without tandra-cli names it in what it installs"
fi

[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
