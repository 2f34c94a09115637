#!/usr/bin/env bash
# Installs what is missing, builds, starts the provider simulator (when built) and the client.
# Without a display it runs everything on a virtual one.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
BUILD=${VELARO_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja ${VELARO_CMAKE_ARGS:-} >/dev/null
# Only what runs: the client and the simulator (the tests are ./test.sh's).
cmake --build "$BUILD" -j"$(nproc)" --target velaro velaro-provider

PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ]; then
  # The first free display number from 99 up; a stale lock of a dead server does not count.
  n=99
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do
    n=$((n + 1))
  done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  PIDS+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.05
  done
fi

PROVIDER="$BUILD/provider/velaro-provider"
if [ -x "$PROVIDER" ]; then
  "$PROVIDER" --config provider/velaro-provider.conf &
  PIDS+=($!)
  # The client starts only once the gateway listens.
  for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/6666) 2>/dev/null && break; sleep 0.05; done
fi

# In the background, so that a signal to this script reaches its trap at once and ends all three.
"$BUILD/velaro" "$@" &
CLIENT=$!
PIDS+=("$CLIENT")
set +e
wait "$CLIENT"
rc=$?
set -e
exit "$rc"
