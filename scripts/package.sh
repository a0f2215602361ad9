#!/usr/bin/env bash
# Builds the Debian package morvent_VERSION-REVISION_ARCH.deb into build/package/ (CPack's DEB generator;
# dependencies from dpkg-shlibdeps). Install it with: sudo apt-get install ./build/package/morvent_*.deb
# package.sh [cmake options...], e.g. -DMORVENT_PACKAGE_SUFFIX=+ci42 for a build number in the version.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build gui package
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_GUI=ON "$@"
rm -f build/package/morvent_*.deb
(cd build && cpack -G DEB -B package > package.log 2>&1) || { cat build/package.log; exit 1; }
rm -rf build/package/_CPack_Packages
ls build/package/morvent_*.deb
