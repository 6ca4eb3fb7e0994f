#!/bin/sh
# Builds the Debian packages in a build tree (zirko, and zirko-gui when the
# tree has the desktop application), checks their file lists, dependencies
# and udev rule, runs lintian on them, then installs and purges them in a
# scratch root: the machine's own packages are never touched.
# Usage: packaging/check-deb.sh [build-dir]
# A tree cross-built for another architecture is checked the same way; its
# packages are installed with that architecture forced.
set -eu
build=$(cd "${1:-build}" && pwd)
cd "$build"
rm -f zirko_*.deb zirko-gui_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }
fail() { echo "check-deb: $*" >&2; exit 1; }

util=$(ls zirko_*_*.deb)
gui=$(ls zirko-gui_*_*.deb 2>/dev/null || true)
[ -e gui/zirko_gui ] && [ -z "$gui" ] && fail "no zirko-gui package from a tree with zirko_gui"
echo "check-deb: $util $gui"

# The file list of each package, as dpkg-deb shows it.
files_of() {
  dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sort
}
check_files() {
  printf '%s\n' "$2" | sort >"files.expected"
  files_of "$1" >"files.packaged"
  diff -u files.expected files.packaged || fail "$1 does not hold the expected files"
}
check_files "$util" "./usr/bin/zirko_util
./usr/lib/udev/rules.d/70-zirko.rules
./usr/share/bash-completion/completions/zirko_util
./usr/share/doc/zirko/changelog.Debian.gz
./usr/share/doc/zirko/copyright
./usr/share/doc/zirko/examples/media-remote.zmap
./usr/share/lintian/overrides/zirko
./usr/share/man/man1/zirko_util.1.gz"
if [ -n "$gui" ]; then
  check_files "$gui" "./usr/bin/zirko_gui
./usr/share/applications/zirko_gui.desktop
./usr/share/doc/zirko-gui/changelog.Debian.gz
./usr/share/doc/zirko-gui/copyright
./usr/share/icons/hicolor/128x128/apps/zirko.png
./usr/share/icons/hicolor/48x48/apps/zirko.png
./usr/share/icons/hicolor/64x64/apps/zirko.png
./usr/share/icons/hicolor/scalable/apps/zirko.svg
./usr/share/lintian/overrides/zirko-gui
./usr/share/man/man1/zirko_gui.1.gz
./usr/share/metainfo/org.example.zirko.metainfo.xml"
fi

# The utility must install on a box without Qt; the desktop application
# needs exactly this version of the utility's package.
depends=$(dpkg-deb -f "$util" Depends)
case $depends in
  *libusb-1.0-0*) ;;
  *) fail "zirko's dependencies not computed from the binaries: $depends" ;;
esac
case $depends in
  *[Qq]t*) fail "zirko depends on Qt: $depends" ;;
esac
version=$(dpkg-deb -f "$util" Version)
case $version in
  *-[0-9]*) ;;
  *) fail "version without a Debian revision: $version" ;;
esac
if [ -n "$gui" ]; then
  depends=$(dpkg-deb -f "$gui" Depends)
  case $depends in
    *"zirko (= $version)"*libqt6*|*libqt6*"zirko (= $version)"*) ;;
    *) fail "zirko-gui does not depend on zirko $version and Qt: $depends" ;;
  esac
fi

# The rule must let the seat's user at the receiver and its key events, and
# no one else.
rules=$(dpkg-deb --fsys-tarfile "$util" | tar -xOf - ./usr/lib/udev/rules.d/70-zirko.rules)
for subsystem in usb input; do
  printf '%s\n' "$rules" | grep -q "^SUBSYSTEM==\"$subsystem\",.*TAG+=\"uaccess\"" ||
    fail "the udev rule does not tag $subsystem nodes for uaccess"
done
if printf '%s\n' "$rules" | grep -Eq 'MODE="0?[0-7][0-7][1-7]"'; then
  fail "the udev rule opens nodes to every user"
fi

if [ -n "$gui" ] && command -v appstreamcli >/dev/null 2>&1; then
  metainfo=./usr/share/metainfo/org.example.zirko.metainfo.xml
  dpkg-deb --fsys-tarfile "$gui" | tar -xOf - "$metainfo" >metainfo.xml
  appstreamcli validate --no-net metainfo.xml >appstream.log 2>&1 || {
    cat appstream.log
    fail "the metainfo does not validate"
  }
fi

if command -v lintian >/dev/null 2>&1; then
  # shellcheck disable=SC2086
  lintian --pedantic --fail-on error,warning --tag-display-limit 0 $util $gui >lintian.log 2>&1 || {
    cat lintian.log
    fail "lintian found errors or warnings"
  }
  echo "check-deb: lintian --pedantic: no error, no warning"
elif [ "${CI:-}" = true ]; then
  fail "lintian missing (scripts/install-deps.sh installs it)"
fi

# Maintainer scripts run outside the scratch root with DPKG_ROOT set, so they
# leave this machine's udev alone.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
: >"$root/var/lib/dpkg/status"
dpkg_root() {
  dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless \
    --force-not-root --force-architecture "$@"
}
# shellcheck disable=SC2086
dpkg_root --install "$util" $gui >dpkg.log 2>&1 || { cat dpkg.log; exit 1; }
for deb in $util $gui; do
  files_of "$deb" | while read -r path; do
    [ -f "$root/$path" ] || fail "not installed: $path"
  done
done
[ -n "$gui" ] && { dpkg_root --purge zirko-gui >dpkg.log 2>&1 || { cat dpkg.log; exit 1; }; }
dpkg_root --purge zirko >dpkg.log 2>&1 || { cat dpkg.log; exit 1; }
left=$(find "$root/usr" -type f 2>/dev/null || true)
[ -z "$left" ] || fail "left behind after purge: $left"
echo "check-deb: installs and purges cleanly"
