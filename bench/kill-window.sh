#!/usr/bin/env bash
# Kills picseries alone with SIGKILL at a random moment of its first
# milliseconds, TRIES times, each in an empty directory, with a camera that
# opens its output for writing as soon as it starts (the stand-in with
# CAMERA_STANDIN_OPEN_FIRST), then runs it once more, and counts what the
# killed run left: nothing (killed before its claim), a claim that the next
# run took over, or an empty file that the next run kept as a picture. The
# last is a hole in the series: a kill that came between the claim's create
# and its mark, or a mark that the camera erased.
#
#   bench/kill-window.sh BUILD_DIR [TRIES] [MAX_MS]
#   bench/kill-window.sh build/default 1000 8
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [TRIES] [MAX_MS]}" && pwd)
tries=${2:-1000}
max_ms=${3:-8}
nothing=0 taken_over=0 kept=0 other=0

work=$(mktemp -d "${TMPDIR:-/var/tmp}/picseries-window.XXXXXX")
trap 'rm -rf "$work"' EXIT
export PATH="$build/camera:$PATH" CAMERA_STANDIN_OPEN_FIRST="$work/opened"
for _ in $(seq "$tries"); do
    rm -rf "$work/photos"
    mkdir "$work/photos"
    CAMERA_STANDIN_DELAY_MS=2000 "$build/picseries" "$work/photos" image >/dev/null 2>&1 &
    pid=$!
    sleep "$(printf '0.%06d' $((RANDOM * 32768 % (max_ms * 1000))))"
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null || true
    # The camera dies with picseries, a moment later; its open file holds
    # no lock of the claim's, so wait for it to be gone from the folder.
    for _ in $(seq 500); do
        grep -qs "$work/photos/" /proc/[0-9]*/cmdline || break
        sleep 0.01
    done
    if [[ ! -e $work/photos/Pic_1.jpg ]]; then
        nothing=$((nothing + 1))
        continue
    fi
    "$build/picseries" "$work/photos" image >/dev/null 2>&1 || true
    if [[ -s $work/photos/Pic_1.jpg && ! -e $work/photos/Pic_2.jpg ]]; then
        taken_over=$((taken_over + 1))
    elif [[ ! -s $work/photos/Pic_1.jpg && -s $work/photos/Pic_2.jpg ]]; then
        kept=$((kept + 1))
    else
        other=$((other + 1))
    fi
done
echo "tries $tries, killed within ${max_ms} ms: nothing left $nothing, claim taken over $taken_over," \
    "empty file kept $kept, other $other"
