#!/usr/bin/env bash
# Builds the Linux packages in build/package: kivo_<version>-1_<arch>.deb and
# the portable kivo-<version>-linux-<arch>.tar.gz, and checks the desktop
# entry and the software-centre metadata. Installs what is missing.
# KIVO_UPDATE_KEY=path/to/public.pem builds that key in: the packaged program
# then starts only installers signed with it (without one it trusts the
# network, and configuring says so).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_DESKTOP_PACKAGES[@]}" "${KIVO_PACKAGE_PACKAGES[@]}"

mkdir -p build
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_TESTS=OFF -DKIVO_BUILD_BENCH=OFF \
    -DKIVO_BUILD_SERVER=OFF -DCMAKE_INSTALL_PREFIX=/usr -DKIVO_UPDATE_KEY="${KIVO_UPDATE_KEY:-}" \
    >build/package-configure.log
grep -i 'KIVO_UPDATE_KEY\|installers must' build/package-configure.log || true
cmake --build build/package -j2 --target kivo kivo_desktop_entry
desktop-file-validate build/package/packaging/linux/cn.kivo.Kivo.desktop
appstreamcli validate --no-net --pedantic packaging/linux/cn.kivo.Kivo.metainfo.xml
rm -f build/package/kivo_*.deb build/package/kivo-*.tar.gz
(cd build/package && cpack >/dev/null)
ls build/package/kivo_*.deb build/package/kivo-*.tar.gz
