#!/usr/bin/env bash
# Starts RUNS copies of picseries at once on one empty directory, ROUNDS
# times, with the camera stand-in taking 100 ms per picture, and counts what
# is left: a run that exited 0 without its own non-empty picture surviving
# lost a picture.
#
#   bench/concurrent-runs.sh BUILD_DIR [ROUNDS] [RUNS]
#   bench/concurrent-runs.sh build/default 20 32
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [ROUNDS] [RUNS]}" && pwd)
rounds=${2:-20}
runs=${3:-32}
succeeded=0 pictures=0 full=0 calls=0 paths=0

for _ in $(seq "$rounds"); do
    work=$(mktemp -d "${TMPDIR:-/var/tmp}/picseries-concurrent.XXXXXX")
    mkdir "$work/photos"
    for i in $(seq "$runs"); do
        (
            cd "$work"
            status=0
            PATH="$build/camera:$PATH" CAMERA_STANDIN_DELAY_MS=100 CAMERA_STANDIN_LOG="$work/log" \
                "$build/picseries" photos image >/dev/null 2>&1 || status=$?
            echo "$status" >"$work/status.$i"
        ) &
    done
    wait
    # No camera ran in a round where every run failed before it.
    touch "$work/log"
    # grep -c fails when it counts none, which is a count here too.
    succeeded=$((succeeded + $(cat "$work"/status.* | grep -cx 0 || true)))
    pictures=$((pictures + $(find "$work/photos" -type f | wc -l)))
    full=$((full + $(find "$work/photos" -type f -size +0 | wc -l)))
    # The log holds each camera call's arguments, each ended by a zero byte.
    calls=$((calls + $(tr '\0' '\n' <"$work/log" | grep -cx -- -o || true)))
    paths=$((paths + $(tr '\0' '\n' <"$work/log" | awk 'last == "-o" { print } { last = $0 }' |
        sort -u | wc -l)))
    rm -rf "$work"
done

echo "runs $((rounds * runs)), exited 0: $succeeded, pictures: $pictures," \
    "non-empty: $full, camera calls: $calls, different paths: $paths," \
    "lost: $((succeeded - full))"
