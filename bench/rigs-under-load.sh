#!/usr/bin/env bash
# Runs the share rigs again and again under load, as a fresh machine loads
# them (installs with dpkg's fsyncs, other rigs' guests, builds), and counts
# how each round ended: passed, failed with the rig's own "rig: " line, or
# failed without a word. Each round is one ctest run of a rig's label, the
# rig and the table that judges what it left. The load: BUSY shell loops that
# only spin, and WRITERS loops of 64 MiB written with dd and flushed
# (conv=fsync), beside the build folder; each leads a session of its own and
# is stopped by its PID when the script ends.
#
#   bench/rigs-under-load.sh [--rounds=N] [--busy=N] [--writers=N] [LABEL...]
#
# --rounds   rounds of each label (default 10)
# --busy     spinning loops (default 2)
# --writers  loops of fsync'd writes (default 2)
# LABEL      fuse-shares, network-shares (default fuse-shares)
#
# Runs as root, as the rigs do. Builds the network-shares preset first. In
# build/network-shares/under-load/ stay each failed round's ctest output and
# rig output, and each passed round's times from the rig. Exits 1 when any
# round failed.
set -euo pipefail

rounds=10 busy=2 writers=2 labels=()
for arg in "$@"; do
    case $arg in
    --rounds=[1-9]*) rounds=${arg#*=} ;;
    --busy=[0-9]*) busy=${arg#*=} ;;
    --writers=[0-9]*) writers=${arg#*=} ;;
    fuse-shares | network-shares) labels+=("$arg") ;;
    *) sed -n '11,16s/^# \{0,1\}//p' "$0" >&2 && exit 2 ;;
    esac
done
((${#labels[@]})) || labels=(fuse-shares)
for n in "$rounds" "$busy" "$writers"; do
    [[ $n =~ ^[0-9]+$ ]] || { sed -n '11,16s/^# \{0,1\}//p' "$0" >&2 && exit 2; }
done

fail() {
    echo "rigs-under-load: $*" >&2
    exit 1
}
((EUID == 0)) || fail "runs as root, as the rigs do"
cd "$(dirname "$0")/.."
build=$PWD/build/network-shares
out=$build/under-load
cmake --preset network-shares >/dev/null || fail "cannot configure the network-shares preset"
cmake --build --preset network-shares >&2 || fail "cannot build the network-shares preset"
rm -rf "$out"
mkdir -p "$out/writes"

load=()
stop_load() {
    local pid
    for pid in "${load[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null || true
    done
    for pid in "${load[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    load=()
    rm -rf "$out/writes"
}
trap stop_load EXIT
trap 'exit 130' INT TERM

# The loops' own sessions let one kill end a writer with its dd.
for ((i = 0; i < busy; i++)); do
    setsid bash -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
    load+=("$!")
done
for ((i = 0; i < writers; i++)); do
    # shellcheck disable=SC2016 # expanded by the loop's own shell
    setsid bash -c 'while dd if=/dev/zero of="$0" bs=1M count=64 conv=fsync status=none; do :; done' \
        "$out/writes/$i" </dev/null >"$out/writer-$i.log" 2>&1 &
    load+=("$!")
done
echo "load: $busy busy loops, $writers loops of 64 MiB with conv=fsync in $out/writes"

# Prints the seconds since $1, an EPOCHREALTIME.
seconds_since() {
    awk -v now="$EPOCHREALTIME" -v then="$1" 'BEGIN { printf "%.1f\n", now - then }'
}

failed=0
for label in "${labels[@]}"; do
    passed=0 named=0 silent=0 times=() loads=()
    rig_out=$build/tests/$label
    for ((round = 1; round <= rounds; round++)); do
        log=$out/$label-$round.log
        average=$(cut -d' ' -f1 /proc/loadavg)
        loads+=("$average")
        started=$EPOCHREALTIME
        if ctest --test-dir "$build" -L "^$label\$" --output-on-failure >"$log" 2>&1; then
            result=passed
            passed=$((passed + 1))
            rm -f "$log"
            # What the rig measured, such as how long davfs2's daemon took.
            cp "$rig_out/times" "$out/$label-$round.times" 2>/dev/null || true
        else
            # The rig's own line, where it said one; "rig: seconds:" is its
            # closing line, not a failure's.
            said=$(grep -m1 '^rig: ' "$log" | grep -v '^rig: seconds: ' || true)
            if [[ -n $said ]]; then
                result="failed: $said"
                named=$((named + 1))
            else
                result="failed without a rig: line"
                silent=$((silent + 1))
            fi
            result+=" (see $log)"
            [[ ! -d $rig_out ]] || cp -a "$rig_out" "$out/$label-$round.out"
        fi
        seconds=$(seconds_since "$started")
        times+=("$seconds")
        echo "$label round $round: $result; $seconds s, load average $average at its start"
    done
    summary=$(printf '%s\n' "${times[@]}" | sort -n | sed -n '1p;$p' | paste -sd-)
    range=$(printf '%s\n' "${loads[@]}" | sort -n | sed -n '1p;$p' | paste -sd-)
    echo "$label: $passed of $rounds passed; failed with a rig: line $named, without $silent;" \
        "$summary s a round; load average $range at their starts"
    ((passed == rounds)) || failed=1
done
exit "$failed"
