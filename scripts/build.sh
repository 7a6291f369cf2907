#!/bin/bash
# Configures and builds the native and MinGW trees: build.sh [asan|tsan|release|mingw]...
# (all four when none is named). Build trees live under build/.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="$(nproc)"

configure_and_build() {
    local name="$1"; shift
    if [ ! -f "build/$name/CMakeCache.txt" ]; then
        cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
    fi
    cmake --build "build/$name" -j "$jobs"
}

build_one() {
    case "$1" in
    asan) configure_and_build asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DK614_SANITIZE=asan ;;
    tsan) configure_and_build tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DK614_SANITIZE=tsan ;;
    release) configure_and_build release -DCMAKE_BUILD_TYPE=Release ;;
    mingw) configure_and_build mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-posix.cmake \
               -DK614_NATIVE_BUILD="$root/build/release" ;;
    *) echo "build.sh: unknown build '$1' (asan, tsan, release, mingw)" >&2; exit 2 ;;
    esac
}

if [ $# -eq 0 ]; then
    set -- release asan tsan mingw
fi
for b in "$@"; do
    build_one "$b"
done
