#!/usr/bin/env bash
# Builds the Debian package (RelWithDebInfo, in BUILD_DIR, default build), checks it with
# lintian and the desktop and AppStream validators, installs it with apt, starts the installed
# program under Xvfb as a new user of the machine, purges it, and checks that nothing of it is
# left behind. Run as root on a Debian 12 machine with tools/install-deps.sh done; it installs
# and removes the package pantrimo and a user pantrimo-check.
#   bash tools/package/check-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath -m "${1:-build}")
user=pantrimo-check
work=$(mktemp -d /tmp/pantrimo-package-check.XXXXXX)
installed=0

step() { echo "== $* (at ${SECONDS}s)"; }
cleanup() {
  # A check that failed half-way leaves the machine as it found it.
  if [ "$installed" -eq 1 ] && dpkg-query -W pantrimo >/dev/null 2>&1; then
    apt-get purge -y -qq pantrimo >/dev/null 2>&1 || true
  fi
  if id "$user" >/dev/null 2>&1; then
    # Whatever the run left in the shared temporary folder is the user's, and goes with it.
    rm -rf "/tmp/pantrimo-$(id -u "$user")"
    userdel --remove "$user" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

step "building the package in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target pantrimo pantrimo_package_files
rm -f "$build"/pantrimo_*.deb "$build"/pantrimo-dbgsym_*.ddeb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/pantrimo_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

step "lintian"
lintian --fail-on error,warning --info --display-info "$deb"

step "validating the menu entry, the metainfo and the manual page"
# From the package itself: a machine's dpkg may be told to leave manual pages out.
dpkg-deb --extract "$deb" "$work/tree"
desktop-file-validate "$work/tree/usr/share/applications/pantrimo.desktop"
appstreamcli validate --no-net "$work/tree/usr/share/metainfo/com.quillmark.pantrimo.metainfo.xml"
man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
                 "$work/tree/usr/share/man/man1/pantrimo.1.gz" 2>&1 >/dev/null)
if [ -n "$man_warnings" ]; then
  echo "the manual page draws warnings:"; echo "$man_warnings"; exit 1
fi

step "checking that the package needs no LibreOffice"
# The office bridge links the UNO runtime libraries, small packages of their own; the office
# itself is only suggested, for PANTRIMO_EXCEL=libreoffice.
depends=$(dpkg-deb --field "$deb" Depends | sed 's/([^)]*)//g; s/[,|]/ /g')
office=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
           --no-replaces --no-enhances $depends | grep -E '^libreoffice-(core|calc)' | sort -u || true)
if [ -n "$office" ]; then
  echo "installing the package would install $office"; exit 1
fi
dpkg-deb --field "$deb" Depends Suggests

step "installing $deb"
if dpkg-query -W pantrimo >/dev/null 2>&1; then
  apt-get purge -y -qq pantrimo
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb"
installed=1
dpkg -L pantrimo >"$work/files"

test "$(readlink -f /usr/bin/pantrimo)" = /usr/lib/pantrimo/pantrimo
file -L /usr/bin/pantrimo | grep -q ', stripped'
ls -l /usr/lib/pantrimo/pantrimo

step "starting /usr/bin/pantrimo as the new user $user"
if id "$user" >/dev/null 2>&1; then
  userdel --remove "$user"
fi
useradd --create-home --shell /bin/sh "$user"
home=$(getent passwd "$user" | cut -d: -f6)
cp tests/e2e/xsession.py tools/package/run_installed.py "$work"/
chmod 755 "$work"
chmod 644 "$work"/*.py
# The session's private runtime folder, which a login would have made under /run/user.
install -d -m 700 -o "$user" -g "$user" "$work/runtime"
runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  XDG_RUNTIME_DIR="$work/runtime" PYTHONPATH="$work" /usr/bin/python3 "$work/run_installed.py" /usr/bin/pantrimo
cat "$home/.config/Quillmark.ini"

step "purging the package"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq pantrimo
if dpkg-query -W -f='${Status}\n' pantrimo 2>/dev/null | grep -qv '^unknown ok not-installed$'; then
  echo "dpkg still knows pantrimo: $(dpkg-query -W -f='${Status}' pantrimo)"; exit 1
fi
left=0
while read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  # A folder the package shared with others (/usr/share/icons/hicolor/48x48/apps) stays.
  if [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then
    continue
  fi
  echo "left behind: $path"
  left=1
done <"$work/files"
[ "$left" -eq 0 ]
echo "nothing of pantrimo is left behind ($(wc -l <"$work/files") paths checked)"
step "done"
