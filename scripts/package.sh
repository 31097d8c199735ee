#!/usr/bin/env bash
# Builds the Linux packages in build/package: kivo_<version>-1_<arch>.deb (the
# desktop program), kivo-server_<version>-1_<arch>.deb (the content server),
# a -dbgsym .ddeb beside each with the debug symbols stripped from its
# binaries, and the portable kivo-<version>-linux-<arch>.tar.gz; checks the
# desktop entry, the software-centre metadata and both packages with lintian.
# Installs what is missing.
# KIVO_UPDATE_KEY=path/to/public.pem builds that key in: the packaged program
# then starts only installers signed with it (without one it trusts the
# network, and configuring says so).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_DESKTOP_PACKAGES[@]}" "${KIVO_PACKAGE_PACKAGES[@]}"

mkdir -p build
# -g: the debug symbols the -dbgsym packages keep.
cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O3 -DNDEBUG -g" \
    -DKIVO_BUILD_TESTS=OFF -DKIVO_BUILD_BENCH=OFF -DKIVO_BUILD_SERVER=ON \
    -DKIVO_SERVER_DATA_DIR=/var/lib/kivo-server/data -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DKIVO_UPDATE_KEY="${KIVO_UPDATE_KEY:-}" >build/package-configure.log
grep -i 'KIVO_UPDATE_KEY\|installers must' build/package-configure.log || true
cmake --build build/package -j2 --target kivo kivo_desktop_entry kivo-server kivo_docs_desktop kivo_docs_server \
    kivo_man_kivo.1 kivo_man_kivo-server.1
desktop-file-validate build/package/packaging/linux/cn.kivo.Kivo.desktop
appstreamcli validate --no-net --pedantic packaging/linux/cn.kivo.Kivo.metainfo.xml
rm -f build/package/*.deb build/package/*.ddeb build/package/kivo-*.tar.gz
(cd build/package && cpack >/dev/null)
# No error and no warning on either package.
lintian --fail-on error,warning build/package/kivo_*.deb build/package/kivo-server_*.deb
ls build/package/*.deb build/package/*.ddeb build/package/kivo-*.tar.gz
