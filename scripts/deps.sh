# Installs the Debian packages named in the given lists that are missing.
# Sourced by run.sh and test.sh; needs root (apt-get) only when something is missing.
kivo_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

KIVO_BUILD_PACKAGES=(g++ make cmake pkg-config ca-certificates
    libcurl4-openssl-dev libcpp-httplib-dev libsqlite3-dev)
KIVO_TEST_PACKAGES=(libgtest-dev libgmock-dev)
