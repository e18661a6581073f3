# Sourced by the scripts: install_missing <package>... installs the Debian packages that are
# not installed yet.
install_missing() {
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

# The packages that every build of the project needs.
build_packages=(libboost1.81-dev libboost-system1.81-dev libjsoncpp-dev libzmq3-dev cppzmq-dev
    libcurl4-openssl-dev libhiredis-dev redis-server libgtest-dev libbenchmark-dev cmake g++
    pkg-config)
