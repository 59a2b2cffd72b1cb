#!/bin/sh
# The Debian package as a technician gets it: built from this build, listed, unpacked into a
# scratch root and run from there; its desktop entry and AppStream file validated, lintian
# without errors; and a plain `cmake --install` into a prefix of one's own.
#   run-package-test.sh BUILD_DIR VERSION
set -u
build=$1
version=$2
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
            /usr/share/doc/tandra-usb/copyright; do
  grep -qx "$path" "$work/contents" || fail "the package lacks $path"
done
dpkg-deb -f "$deb" Depends | grep -q libftdi1 || fail "no libftdi1 among the dependencies"
dpkg-deb -e "$deb" "$work/control"
grep -q "udevadm control --reload" "$work/control/postinst" || fail "postinst does not reload udev"

dpkg -x "$deb" "$work/root"
got=$("$work/root/usr/bin/tandra-cli" --version)
[ "$got" = "tandra-cli $version" ] || fail "tandra-cli --version says '$got', not '$version'"
QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/tandra-usb" --help | grep -q "^Usage: tandra-usb" \
  || fail "tandra-usb --help"
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
  lintian "$deb" >"$work/lintian" 2>/dev/null
  cat "$work/lintian"
  if grep -q "^E:" "$work/lintian"; then fail "lintian reports errors"; fi
else
  echo "lintian not found: not checked"
fi

cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
for path in bin/tandra-usb bin/tandra-cli lib/udev/rules.d/60-tandra-usb.rules \
            share/applications/org.tandra.TandraUSB.desktop share/metainfo/org.tandra.TandraUSB.metainfo.xml; do
  [ -f "$work/prefix/$path" ] || fail "cmake --install put no $path under the prefix"
done

[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
