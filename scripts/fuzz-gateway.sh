#!/bin/sh
# Builds the gateway wire-format fuzzer with clang and libFuzzer and runs it.
# Usage: scripts/fuzz-gateway.sh [seconds] [extra libFuzzer options...]
# Needs clang with libFuzzer (Debian: clang; the runtime is in libclang-rt-dev or the
# versioned libclang-common-N-dev) and Qt 6 Core development files.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-180}
[ $# -gt 0 ] && shift
out=${FUZZ_BUILD_DIR:-build-fuzz}
CXX=${CXX:-clang++}
mkdir -p "$out/corpus" "$out/artifacts"

# shellcheck disable=SC2046
"$CXX" -std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Isrc fuzz/gateway_fuzz.cpp src/gateway/GSMIAPUnt.cpp src/gateway/Md5.cpp src/gateway/XorBase64.cpp \
    src/common/GbkCodec.cpp $(pkg-config --cflags --libs Qt6Core) -o "$out/gateway_fuzz"

exec "$out/gateway_fuzz" "$out/corpus" fuzz/seeds -max_total_time="$seconds" -max_len=4096 \
    -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$@"
