#!/bin/sh
# An upgrade from 1.1.0, whose one package tandra-usb held the window, tandra-cli and the udev
# rule: in a scratch dpkg database of its own, such a package is unpacked, then tandra-cli and
# tandra-usb over it as apt hands them to dpkg. Without tandra-cli's Replaces, dpkg refuses to
# overwrite the old package's files; afterwards each file belongs to its new package.
#   check-upgrade.sh WORK_DIR TANDRA_CLI_DEB TANDRA_USB_DEB
set -u
work=$1
cli=$2
window=$3
root="$work/root"
old="$work/old"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$old/DEBIAN"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg-deb -x "$cli" "$old"
dpkg-deb -x "$window" "$old"
rm -r "$old/usr/share/doc/tandra-cli"
cat >"$old/DEBIAN/control" <<EOF
Package: tandra-usb
Version: 1.1.0-1
Architecture: $(dpkg --print-architecture)
Maintainer: The Tandra USB developers <maintainers@tandra.org>
Description: front end of a USB gang EPROM programmer
EOF
dpkg-deb --root-owner-group -b "$old" "$work/tandra-usb_1.1.0-1.deb" >/dev/null \
  || { fail "build the 1.1.0 package"; exit 1; }

# Unpacking runs no maintainer script here (there are no preinsts): nothing runs in the scratch root.
dpkg_here() { dpkg --root="$root" --force-script-chrootless --force-not-root "$@" >>"$work/dpkg.log" 2>&1; }
dpkg_here --unpack "$work/tandra-usb_1.1.0-1.deb" || fail "unpack 1.1.0"
dpkg_here --auto-deconfigure --unpack "$cli" "$window" || fail "unpack tandra-cli and tandra-usb over 1.1.0"
for file in /usr/bin/tandra-cli:tandra-cli /usr/lib/udev/rules.d/60-tandra-usb.rules:tandra-cli \
            /usr/bin/tandra-usb:tandra-usb; do
  path=${file%:*}
  owner=$(dpkg --root="$root" -S "$path" 2>/dev/null | cut -d: -f1)
  [ "$owner" = "${file##*:}" ] || fail "$path belongs to '$owner' after the upgrade, not ${file##*:}"
done
[ "$failures" -eq 0 ] || cat "$work/dpkg.log"
exit "$failures"
