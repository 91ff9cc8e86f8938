#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs the main job or the tests.
#
#   ./build.sh run [calstore arguments]   install what is missing, build, run calstore
#   ./build.sh test                       install what is missing, build, run every test
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
    install-deps)
        shift
        install_missing "${packages[@]}" "$@"
        ;;
    *)
        echo "usage: ./build.sh run [arguments] | ./build.sh test" >&2
        exit 2
        ;;
esac
