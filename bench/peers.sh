#!/usr/bin/env bash
# Times qorin set against the Linux tools that change serials without a backup (fatlabel -i,
# tune.exfat -I, ntfslabel --new-serial) on 64 MiB images, and counts their system calls and the
# bytes they read from and write to the image. A measurement, not a test: it prints numbers and ratios.
#
#   bench/peers.sh [repetitions]        QORIN=path overrides the qorin to measure
set -euo pipefail
cd "$(dirname "$0")/.."

reps=${1:-9}
qorin=${QORIN:-build/release/console/qorin}
if [ -z "${QORIN:-}" ]; then
  # A sanitizer build would measure the sanitizers, so the release preset's qorin is measured.
  cmake --preset release >/dev/null
  cmake --build --preset release --target qorin -- -j2 >/dev/null
fi
for tool in mkfs.fat mkfs.exfat mkntfs fatlabel tune.exfat ntfslabel strace blkid; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/plinthos-peers-XXXXXX)
trap 'rm -rf "$work"' EXIT

make_image() {  # fs path
  rm -f "$2"
  case $1 in
    FAT12|FAT16|FAT32) mkfs.fat -F "${1#FAT}" -i 1234ABCD -C "$2" 65536 >/dev/null 2>&1 ;;
    exFAT) truncate -s 64M "$2" && mkfs.exfat "$2" >/dev/null && tune.exfat -I 0x1234abcd "$2" >/dev/null ;;
    NTFS) truncate -s 64M "$2" && mkntfs -F -Q "$2" >/dev/null 2>&1 &&
          ntfslabel --new-serial=A1B2C3D41234ABCD "$2" >/dev/null 2>&1 ;;
  esac
}

serial() {  # n -> a serial different for every run: 8 hex digits
  printf '%08X' $((0x10000000 + $1 * 7919))
}

# The command line of one serial change by one tool, as an array assignment.
command_for() {  # tool fs image n
  local s
  s=$(serial "$4")
  case $1 in
    qorin) if [ "$2" = NTFS ]; then
             echo "$qorin set $3 A1B2C3D4$s --full64 --yes --backup-dir $work/backups"
           else
             echo "$qorin set $3 $s --yes --backup-dir $work/backups"
           fi ;;
    peer) case $2 in
            FAT*) echo "fatlabel -i $3 $s" ;;
            exFAT) echo "tune.exfat -I 0x$s $3" ;;
            NTFS) echo "ntfslabel --new-serial=A1B2C3D4$s $3" ;;
          esac ;;
  esac
}

# Median wall time in microseconds of reps runs, each on a fresh copy of the template.
median_us() {  # tool fs [durable]
  local times=() i start end
  for ((i = 1; i <= reps; i++)); do
    cp "$work/$2.tmpl" "$work/run.img"
    start=$(date +%s%N)
    $(command_for "$1" "$2" "$work/run.img" "$i") >/dev/null 2>&1
    # The peers leave their write in the page cache; qorin's has reached the disk when it returns.
    [ "$1" = peer ] && [ "${3:-}" = durable ] && sync "$work/run.img"
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((reps + 1) / 2))p"
}

# System calls of the whole run, process start included (strace -c -f), and the bytes read from
# and written to the image itself (strace -y names each descriptor's file).
counts() {  # tool fs -> "calls read written"
  local calls
  cp "$work/$2.tmpl" "$work/run.img"
  calls=$(strace -c -f -o "$work/summary" $(command_for "$1" "$2" "$work/run.img" 0) >/dev/null 2>&1;
          awk '$NF == "total" { print $4 }' "$work/summary")
  cp "$work/$2.tmpl" "$work/run.img"
  strace -f -y -e trace=read,write,pread64,pwrite64,readv,writev,preadv,pwritev -o "$work/io" \
    $(command_for "$1" "$2" "$work/run.img" 0) >/dev/null 2>&1 || true
  awk -v calls="$calls" -v image="$work/run.img" '
    / = [0-9]+$/ {
      path = $0; sub(/^[^(]*\([0-9]+</, "", path); sub(/>.*/, "", path)
      if (path != image) next
      if ($0 ~ /(^|[ \]])p?readv?(64)?\(/) r += $NF
      else if ($0 ~ /(^|[ \]])p?writev?(64)?\(/) w += $NF
    }
    END { printf "%s %d %d\n", calls, r, w }' "$work/io"
}

check_changed() {  # tool fs: one run must really change the serial, or its numbers mean nothing
  cp "$work/$2.tmpl" "$work/run.img"
  $(command_for "$1" "$2" "$work/run.img" 1) >/dev/null 2>&1 || { echo "$1 failed on $2" >&2; return 1; }
  local got
  got=$(blkid -p -o value -s UUID "$work/run.img" | tr -d '-' | tr a-f A-F)
  case $got in *"$(serial 1)") ;; *) echo "$1 did not change the serial of $2 (blkid: $got)" >&2; return 1 ;; esac
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%.2f", a / b }'; }

ms() { awk -v u="$1" 'BEGIN { printf "%.2f", u / 1000 }'; }

printf 'qorin: %s, %d repetitions, 64 MiB images; bytes are those read from and written to the image\n\n' \
  "$qorin" "$reps"
printf '| FS | qorin ms | peer | peer ms | peer + sync ms | qorin/peer | qorin/(peer + sync) |'
printf ' read B, qorin/peer | written B, qorin/peer | system calls, qorin/peer |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
for fs in FAT12 FAT16 FAT32 exFAT NTFS; do
  make_image "$fs" "$work/$fs.tmpl"
  declare -A row=()
  for tool in qorin peer; do
    check_changed "$tool" "$fs"
    us=$(median_us "$tool" "$fs")
    read -r calls rbytes wbytes < <(counts "$tool" "$fs")
    row[$tool]="$us $calls $rbytes $wbytes"
  done
  name=$(command_for peer "$fs" x 0 | awk '{ print $1 }')
  synced=$(median_us peer "$fs" durable)
  read -r qu qc qr qw <<<"${row[qorin]}"
  read -r pu pc pr pw <<<"${row[peer]}"
  printf '| %s | %s | %s | %s | %s | %s | %s | %s / %s | %s / %s | %s / %s |\n' "$fs" "$(ms "$qu")" "$name" \
    "$(ms "$pu")" "$(ms "$synced")" "$(ratio "$qu" "$pu")" "$(ratio "$qu" "$synced")" "$qr" "$pr" "$qw" "$pw" \
    "$qc" "$pc"
  unset row
done
