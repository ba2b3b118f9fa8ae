#!/usr/bin/env bash
# Times `qorin list --all` beside `blkid -p` on 8, 16, 32 and 64 loop devices holding FAT volumes,
# and counts the bytes each reads from those devices. A measurement, not a test: it prints numbers.
#
#   bench/list-scale.sh [repetitions]     root; QORIN=path overrides the qorin to measure
set -euo pipefail
cd "$(dirname "$0")/.."

reps=${1:-9}
qorin=${QORIN:-build/release/console/qorin}
[ "$(id -u)" = 0 ] || { echo "SKIP: loop devices need root"; exit 77; }
for tool in losetup mkfs.fat blkid strace; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [ -z "${QORIN:-}" ]; then
  # A sanitizer build would measure the sanitizers, so the release preset's qorin is measured.
  cmake --preset release >/dev/null
  cmake --build --preset release --target qorin -- -j2 >/dev/null
fi

work=$(mktemp -d /tmp/plinthos-list-XXXXXX)
devices=()
existing=" $(ls /sys/block | tr '\n' ' ') "
cleanup() {
  for d in "${devices[@]}"; do losetup -d "$d" 2>/dev/null || true; done
  # Loop devices the kernel made for this run are removed again, so later runs (and the in-use
  # check, which looks at every loop device) meet the machine as it was.
  for d in "${devices[@]}"; do
    case $existing in *" ${d#/dev/} "*) continue ;; esac
    python3 -c 'import fcntl, os, sys
fd = os.open("/dev/loop-control", os.O_RDWR)
try: fcntl.ioctl(fd, 0x4C81, int(sys.argv[1]))  # LOOP_CTL_REMOVE
except OSError: pass' "${d#/dev/loop}"
  done
  rm -rf "$work"
}
trap cleanup EXIT

mkfs.fat -F 16 -i 1234ABCD -C "$work/tmpl.img" 16384 >/dev/null

median_us() {  # command... -> median wall time of reps runs, in microseconds
  local times=() i start end
  for ((i = 1; i <= reps; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((reps + 1) / 2))p"
}

bytes_from_ours() {  # command... -> bytes read from our loop devices (strace -y names each descriptor)
  strace -f -y -e trace=read,pread64,preadv,preadv2 -o "$work/io" "$@" >/dev/null 2>&1 || true
  printf '%s\n' "${devices[@]}" >"$work/ours"
  awk 'NR == FNR { ours[$0] = 1; next }
       / = [0-9]+$/ { path = $0; sub(/^[^(]*\([0-9]+</, "", path); sub(/>.*/, "", path); if (path in ours) sum += $NF }
       END { print sum + 0 }' "$work/ours" "$work/io"
}

per() { awk -v a="$1" -v n="$2" 'BEGIN { printf "%.3f", a / n / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }'; }

printf 'qorin: %s, %d repetitions, 16 MiB FAT16 volumes on loop devices\n' "$qorin" "$reps"
printf 'other block devices of the machine are listed too: %s\n\n' "$(ls /sys/class/block | wc -l) now"
printf '%7s %9s %12s %12s %9s %12s %12s %7s\n' volumes qorin_ms qorin_ms/vol qorin_B/vol \
  blkid_ms blkid_ms/vol blkid_B/vol ratio
for count in 8 16 32 64; do
  while [ ${#devices[@]} -lt "$count" ]; do
    cp "$work/tmpl.img" "$work/${#devices[@]}.img"
    devices+=("$(losetup -f --show "$work/${#devices[@]}.img")")
  done
  q=$(median_us "$qorin" list --all --json)
  b=$(median_us blkid -p "${devices[@]}")
  qb=$(bytes_from_ours "$qorin" list --all --json)
  bb=$(bytes_from_ours blkid -p "${devices[@]}")
  printf '%7d %9.2f %12s %12d %9.2f %12s %12d %7s\n' "$count" "$(awk -v u="$q" 'BEGIN { print u / 1000 }')" \
    "$(per "$q" "$count")" $((qb / count)) "$(awk -v u="$b" 'BEGIN { print u / 1000 }')" "$(per "$b" "$count")" \
    $((bb / count)) "$(ratio "$q" "$b")"
done
