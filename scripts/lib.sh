# Shared set-up for the scripts: installs the Debian packages a command needs (when root) and
# configures a build tree.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The Debian packages, grouped by what needs them; each command installs only the groups it needs
# (ensure_packages). A new package goes into its group, and so into PACKAGES, all of them.
#
# Building the programs (rv8scope, rv8rec, rv8rec-plot and the simulated instrument): compiler,
# CMake, Ninja, pkg-config, Qt (Widgets; Svg for rv8rec-plot; OpenGL headers for Qt Gui), the FFT
# library, and the format libraries rv8rec links (libsndfile, libzip, HDF5).
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-svg-dev libgl-dev libkissfft-dev
                libsndfile1-dev libzip-dev libhdf5-dev)
# Showing the window without a display (xvfb-run), with a font.
DISPLAY_PACKAGES=(xvfb xauth fonts-dejavu-core)
# The test programs (GoogleTest, GoogleMock), the Python reader's tests, a font for drawing.
TEST_PACKAGES=(libgtest-dev libgmock-dev python3 python3-numpy fonts-dejavu-core)
# The benchmarks, and the Python reader the export benchmark times.
BENCH_PACKAGES=(libbenchmark-dev python3 python3-numpy)
# Programs the tests read rv8rec's exports with.
READER_PACKAGES=(sigrok-cli sndfile-programs sox hdf5-tools python3-h5py)
# Clang: its release build, the sanitizer build and fuzzing.
CLANG_PACKAGES=(clang libclang-rt-14-dev)
# Release builds with Debian's flags and the Debian package (dpkg-buildflags, dpkg-shlibdeps,
# the icons rendered from the SVG).
PACKAGING_PACKAGES=(dpkg-dev librsvg2-bin)
# Checking the package (packaging/check-package).
CHECK_PACKAGES=(lintian desktop-file-utils appstream libxml2-utils shared-mime-info xdg-utils file
                python3 python3-numpy fonts-dejavu-core)
# The formatter every C++ change goes through.
DEVELOPER_PACKAGES=(clang-format)

PACKAGES=("${BUILD_PACKAGES[@]}" "${DISPLAY_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
          "${BENCH_PACKAGES[@]}" "${READER_PACKAGES[@]}" "${CLANG_PACKAGES[@]}"
          "${PACKAGING_PACKAGES[@]}" "${CHECK_PACKAGES[@]}" "${DEVELOPER_PACKAGES[@]}")

# ensure_packages PACKAGE...: installs those of the packages that are missing (as root:
# apt-get update once, then one apt-get install); as another user, prints the one line that
# installs them and exits.
ensure_packages() {
    local missing=() p
    for p in $(printf '%s\n' "$@" | sort -u); do
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
