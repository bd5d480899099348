# Sourced by scripts/test, scripts/package and scripts/release-builds: RELEASE_OPTIONS, the cmake options of a
# release build with Debian's build flags (dpkg-buildflags: -O2, -D_FORTIFY_SOURCE=2,
# -fstack-protector-strong, -Wformat -Werror=format-security, -Wl,-z,relro, ...). CMake reads
# no CPPFLAGS, so they join the compiler flags, as Debian's own CMake builds do. The flags are
# passed as cache values rather than in the environment, so that they also apply to a build
# folder that was configured before. Run from the source folder: -ffile-prefix-map names it.
# Every hardening feature (adds -Wl,-z,now, "bind now", to the default set) unless the caller chose.
cd "$ROOT"
export DEB_BUILD_MAINT_OPTIONS="${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}"
RELEASE_CPPFLAGS="$(dpkg-buildflags --get CPPFLAGS)"
RELEASE_LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
RELEASE_OPTIONS=(
    -DCMAKE_BUILD_TYPE=Release
    "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $RELEASE_CPPFLAGS"
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $RELEASE_CPPFLAGS"
    "-DCMAKE_EXE_LINKER_FLAGS=$RELEASE_LDFLAGS"
    "-DCMAKE_SHARED_LINKER_FLAGS=$RELEASE_LDFLAGS"
    "-DCMAKE_MODULE_LINKER_FLAGS=$RELEASE_LDFLAGS"
    -DRV8_BUILD_TESTS=OFF -DRV8_BUILD_BENCH=OFF)

# release_build DIR LOG [cmake options...]: configures and builds the release targets into DIR,
# the compiler's output into LOG. Fails when the build fails, and also when the compiler
# warned (so that a build without warnings as errors still shows every warning as a failure).
release_build() {
    local dir="$1" log="$2"; shift 2
    mkdir -p "$ROOT/$dir"
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "${RELEASE_OPTIONS[@]}" "$@" >"$log" 2>&1 \
        && cmake --build "$ROOT/$dir" -- -j2 >>"$log" 2>&1 || {
        grep -E -B2 -A8 'error|warning' "$log" | head -60 >&2
        echo "the build in $dir failed: $log" >&2
        return 1
    }
    if grep -q 'warning:' "$log"; then
        grep -E -B2 -A8 'warning:' "$log" | head -60 >&2
        echo "the build in $dir warned: $log" >&2
        return 1
    fi
}
