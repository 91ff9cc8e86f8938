#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs the main job or the tests.
#
#   ./build.sh run [calstore arguments]   install what is missing, build, run calstore
#   ./build.sh test                       install what is missing, build, run every test
#   ./build.sh windows                    the same for Windows: Brellin.dll and brellin-smoke.exe
#                                         in build-windows/bin (64-bit) and build-windows/bin32
#   ./build.sh bench [--quick]            the store's benchmark against raw SQLite (not run by CI)
#   ./build.sh windows-test               register and drive the 64-bit DLL under Wine, run the
#                                         Windows tests there, unregister it
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ pkg-config libsqlite3-dev sqlite3 libical-dev libgtest-dev libgmock-dev libbenchmark-dev)

install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Run this, then try again:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

windows_packages=(cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64-tools dpkg-dev tcl
                  libsqlite3-0 googletest)
wine_packages=(wine wine64)

# One Windows architecture: SQLite's amalgamation (once), the DLL, the smoke host
# and the Windows tests, copied to the documented folder.
build_windows() {
    local arch=$1 toolchain=$2 out=$3
    tools/windows/fetch-sqlite.sh build-windows/sqlite
    cmake -S . -B "build-windows/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain.cmake" \
        -DCALSTORE_SQLITE_AMALGAMATION="$PWD/build-windows/sqlite" "${@:4}" >/dev/null
    cmake --build "build-windows/$arch" -j "$(nproc)"
    mkdir -p "$out"
    cp "build-windows/$arch/bin/Brellin.dll" "build-windows/$arch/bin/brellin-smoke.exe" tools/windows/check.vbs "$out/"
    tools/windows/check-dll.sh "${toolchain#mingw-w64-}-w64-mingw32-objdump" "$out/Brellin.dll"
    echo "Windows $arch: $out/Brellin.dll, $out/brellin-smoke.exe"
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build
}

# The same, printing the compiler's output only when something fails.
quiet_build() {
    local log
    log=$(mktemp)
    if ! build >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "build failed" >&2
        exit 1
    fi
    rm -f "$log"
}

case "${1:-run}" in
    run)
        [ $# -gt 0 ] && shift
        install_missing "${packages[@]}"
        quiet_build
        exec ./build/bin/calstore "$@"
        ;;
    test)
        install_missing "${packages[@]}"
        build
        ctest --test-dir build --output-on-failure -j "$(nproc)"
        ;;
    bench)
        # ./build.sh bench [--quick]: the store's benchmark (bench/bench_store.cpp).
        # The Python yardstick of the import comparison needs its iCalendar package;
        # the build itself does not.
        [ $# -gt 0 ] && shift
        install_missing "${packages[@]}" python3 python3-icalendar
        cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build build --target bench_store
        exec ./build/bench/bench_store "$@"
        ;;
    windows)
        install_missing "${windows_packages[@]}"
        build_windows x64 mingw-w64-x86_64 build-windows/bin -DCALSTORE_BUILD_TESTS=ON
        # 32-bit hosts load only 32-bit in-process servers: the DLL and the smoke host.
        build_windows x86 mingw-w64-i686 build-windows/bin32 -DCALSTORE_BUILD_TESTS=OFF
        ;;
    windows-test)
        install_missing "${windows_packages[@]}" "${wine_packages[@]}"
        exec tools/windows/wine-test.sh build-windows
        ;;
    install-deps)
        shift
        install_missing "${packages[@]}" "$@"
        ;;
    *)
        echo "usage: ./build.sh run [arguments] | test | bench [--quick] | windows | windows-test" >&2
        exit 2
        ;;
esac
