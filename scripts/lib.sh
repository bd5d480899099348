# Shared set-up for scripts/run, scripts/test and scripts/bench: installs the Debian packages
# the project needs (when root) and configures and builds a build tree.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libkissfft-dev
          libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
          xvfb xauth fonts-dejavu-core python3 python3-numpy clang-format
          libsndfile1-dev libzip-dev libhdf5-dev qt6-svg-dev
          sigrok-cli sndfile-programs sox hdf5-tools python3-h5py
          dpkg-dev lintian desktop-file-utils appstream librsvg2-bin libxml2-utils
          shared-mime-info file)

ensure_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "These Debian packages are missing; install them and run this again:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

# configure_build DIR [cmake options...]
configure_build() {
    local dir="$1"; shift
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
}

# check_default_config: a folder configured with no options at all (build-default) must not make
# warnings errors, so that a packager's or a newer compiler's warnings never break their build.
check_default_config() {
    mkdir -p "$ROOT/build-default"
    cmake -S "$ROOT" -B "$ROOT/build-default" -G Ninja -DRV8_BUILD_TESTS=OFF -DRV8_BUILD_BENCH=OFF \
        >"$ROOT/build-default/configure.log" 2>&1 || {
        cat "$ROOT/build-default/configure.log" >&2
        return 1
    }
    if grep -q -e '-Werror' "$ROOT/build-default/build.ninja"; then
        grep -m3 -e '-Werror' "$ROOT/build-default/build.ninja" >&2
        echo "a default configuration makes warnings errors" >&2
        return 1
    fi
}
