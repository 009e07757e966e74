#!/usr/bin/env bash
# Configures and builds the native fuzz targets into BUILD_DIR/fuzz. Used by run-fuzz-tests.sh
# and scripts/fuzz.
set -euo pipefail
source_dir=${1:?usage: build.sh SOURCE_DIR BUILD_DIR}
build_dir=${2:?usage: build.sh SOURCE_DIR BUILD_DIR}

for tool in clang clang++; do
    if ! command -v "$tool" >/dev/null; then
        echo "fuzz: $tool is not installed; run scripts/setup (packages clang, libclang-rt-14-dev)" >&2
        exit 1
    fi
done
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# The launcher's Windows toolchain settings must not leak into this native build.
env -u CC -u CXX -u CFLAGS -u CXXFLAGS -u LDFLAGS \
    cmake -S "$source_dir/fuzz" -B "$build_dir/fuzz" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build_dir/fuzz" --parallel "$(nproc)"
