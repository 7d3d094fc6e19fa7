#!/usr/bin/env bash
# Starts RUNS copies of picseries at once on one empty directory, each under
# timeout(1) as cron lines and scripts run it, and has every third one killed
# while it runs, by TERM or KILL to its whole process group. Then two runs
# are killed while their camera runs, one after the other, as a hung camera
# would have them, and QUIET runs follow. ROUNDS times over, with the camera
# stand-in taking 200 ms a picture. Counts what is left: every picture a camera wrote
# must still be there, no name may be written twice, and empty files may stay
# only below the highest picture.
#
#   bench/killed-runs.sh BUILD_DIR [ROUNDS] [RUNS] [QUIET]
#   bench/killed-runs.sh build/default 20 24 4
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [ROUNDS] [RUNS] [QUIET]}" && pwd)
rounds=${2:-20}
runs=${3:-24}
quiet=${4:-4}
said0=0 killed=0 written=0 twice=0 lost=0 pictures=0 partial=0 empty=0 above=0

for _ in $(seq "$rounds"); do
    work=$(mktemp -d "${TMPDIR:-/var/tmp}/picseries-killed.XXXXXX")
    mkdir "$work/photos"
    export PATH="$build/camera:$PATH" CAMERA_STANDIN_DELAY_MS=200 \
        CAMERA_STANDIN_WRITTEN_LOG="$work/written"
    for i in $(seq "$runs"); do
        limit=60 signal=TERM
        if ((i % 3 == 0)); then
            # Anywhere from before the claim to after the camera's picture.
            limit=$(printf '0.%03d' $((RANDOM % 400 + 50)))
            ((i % 2 == 0)) && signal=KILL
        fi
        (
            cd "$work"
            status=0
            timeout -s "$signal" "$limit" "$build/picseries" photos image >/dev/null 2>&1 ||
                status=$?
            echo "$status" >"$work/status.$i"
        ) 2>/dev/null & # without the shell's word on each run killed
    done
    wait
    # A camera that hangs twice in a row, each time ended by timeout.
    for signal in TERM KILL; do
        status=0
        { (cd "$work" && timeout -s "$signal" 0.1 "$build/picseries" photos image) \
            >/dev/null 2>&1; } 2>/dev/null || status=$?
        echo "$status" >"$work/status.hung.$signal"
    done
    for i in $(seq "$quiet"); do
        status=0
        (cd "$work" && "$build/picseries" photos image >/dev/null 2>&1) || status=$?
        echo "$status" >"$work/status.quiet.$i"
    done
    touch "$work/written"
    said0=$((said0 + $(cat "$work"/status.* | grep -cx 0 || true)))
    killed=$((killed + $(cat "$work"/status.* | grep -cxE '124|137' || true)))
    written=$((written + $(tr '\0' '\n' <"$work/written" | sort -u | wc -l)))
    twice=$((twice + $(tr '\0' '\n' <"$work/written" | sort | uniq -d | wc -l)))
    # A picture a camera wrote that is no longer there, or is empty, is lost.
    lost=$((lost + $(tr '\0' '\n' <"$work/written" | sort -u |
        while read -r path; do [[ -s "$work/$path" ]] || echo; done | wc -l)))
    pictures=$((pictures + $(find "$work/photos" -type f -size +0 | wc -l)))
    # Files with content that no camera finished: cut short by the kill.
    partial=$((partial + $(cd "$work" && find photos -type f -size +0 |
        grep -cvxFf <(tr '\0' '\n' <written) || true)))
    top=$(find "$work/photos" -type f -size +0 -printf '%f\n' | tr -dc '0-9\n' | sort -n | tail -1)
    empty=$((empty + $(find "$work/photos" -type f -empty | wc -l)))
    above=$((above + $(find "$work/photos" -type f -empty -printf '%f\n' | tr -dc '0-9\n' |
        awk -v top="${top:-0}" '$1 > top' | wc -l)))
    rm -rf "$work"
done

echo "runs $((rounds * (runs + 2 + quiet))), exited 0: $said0, killed by timeout: $killed," \
    "pictures written: $written, non-empty files: $pictures (cut short by a kill: $partial), pictures lost: $lost," \
    "names written twice: $twice, empty files left: $empty, empty above the top picture: $above"
