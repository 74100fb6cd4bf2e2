# shellcheck shell=bash disable=SC2034
# Sourced by run.sh and test.sh, from the repository root. Installs with
# apt-get what a fresh Debian 12 machine lacks, and configures build/.

VINDRIK_BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-multimedia-dev libbenchmark-dev)
# The window wants a font; Qt's X11 plugin comes with the Qt libraries.
VINDRIK_RUN_PACKAGES=(fonts-dejavu-core)
# The install test checks the menu entry with desktop-file-validate.
VINDRIK_TEST_PACKAGES=(desktop-file-utils)

# Prints the packages of the arguments that are not installed.
vindrik_missing_packages()
{
    local package
    for package in "$@"; do
        if [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) != installed ]]; then
            echo "$package"
        fi
    done
}

# Installs the packages of the arguments that are missing, as root or with sudo.
vindrik_install_packages()
{
    local missing
    mapfile -t missing < <(vindrik_missing_packages "$@")
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    local as_root=()
    if ((EUID != 0)); then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages: ${missing[*]}. Install them as root, or install sudo." >&2
            return 1
        fi
        as_root=(sudo)
    fi
    echo "Installing missing packages: ${missing[*]}"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y --no-install-recommends "${missing[@]}"
}

# Configures the build folder of the first argument; further arguments go to
# cmake. A CHAT_HOST from an earlier run is forgotten, so the default host
# holds unless the arguments name one.
vindrik_configure()
{
    local build_dir=$1
    shift
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -U CHAT_HOST "$@"
}
