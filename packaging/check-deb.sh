#!/bin/sh
# Builds the Debian package in a build tree, checks its file list and
# dependencies, then installs and purges it in a scratch root: the machine's
# own packages are never touched.
# Usage: packaging/check-deb.sh [build-dir]
set -eu
build=$(cd "${1:-build}" && pwd)
cd "$build"
rm -f zirko_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }
deb=$(ls zirko_*_*.deb)
echo "check-deb: $deb"

expected="./usr/bin/zirko_util
./usr/lib/udev/rules.d/99-zirko.rules
./usr/share/bash-completion/completions/zirko_util
./usr/share/doc/zirko/examples/media-remote.zmap
./usr/share/man/man1/zirko_util.1"
if [ -e gui/zirko_gui ]; then
  expected="$expected
./usr/bin/zirko_gui
./usr/share/applications/zirko_gui.desktop
./usr/share/icons/hicolor/256x256/apps/zirko.png
./usr/share/man/man1/zirko_gui.1"
fi
printf '%s\n' "$expected" | sort >files.expected
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >files.packaged
if ! diff -u files.expected files.packaged; then
  echo "check-deb: the package does not hold the expected files" >&2
  exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
case $depends in
  *libusb-1.0-0*) ;;
  *) echo "check-deb: dependencies not computed from the binaries: $depends" >&2; exit 1 ;;
esac

# Maintainer scripts run outside the scratch root with DPKG_ROOT set, so they
# leave this machine's udev alone.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
: >"$root/var/lib/dpkg/status"
dpkg_root() {
  dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless \
    --force-not-root "$@"
}
dpkg_root --install "$deb" >dpkg.log 2>&1 || { cat dpkg.log; exit 1; }
while read -r path; do
  [ -f "$root/$path" ] || { echo "check-deb: not installed: $path" >&2; exit 1; }
done <files.expected
dpkg_root --purge zirko >dpkg.log 2>&1 || { cat dpkg.log; exit 1; }
left=$(find "$root/usr" -type f 2>/dev/null || true)
if [ -n "$left" ]; then
  echo "check-deb: left behind after purge: $left" >&2
  exit 1
fi
echo "check-deb: installs and purges cleanly"
