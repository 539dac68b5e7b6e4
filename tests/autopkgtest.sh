#!/usr/bin/env bash
# The package's own test (debian/tests), run against the package that package.builds made, as
# Debian's CI runs it: autopkgtest on this machine itself (its null runner), which installs the
# package and what its test needs. So only as root; and the package goes again afterwards unless
# it was installed before.
#   autopkgtest.sh PACKAGE_DIR
set -uo pipefail
deb=$(ls -t "$1"/sormio_*.deb 2>/dev/null | head -n 1)
tree=$(ls -d "$1"/deb/sormio-*/ 2>/dev/null | head -n 1)
[ -n "$deb" ] && [ -n "$tree" ] || { echo "FAILED: no package built in $1"; exit 1; }
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: autopkgtest's null runner installs the package and its test's needs, as root"
    exit 77
fi
command -v autopkgtest >/dev/null || { echo "skipped: no autopkgtest here"; exit 77; }
installed=false
if dpkg-query -W -f='${Status}' sormio 2>/dev/null | grep -q 'install ok installed'; then
    installed=true
fi
# The tree was built already: its tests are taken from it and the package as built is tested.
autopkgtest --no-built-binaries "$deb" "$tree" -- null
status=$?
$installed || DEBIAN_FRONTEND=noninteractive apt-get purge -y -q sormio >/dev/null
exit $status
