#!/usr/bin/env bash
# A full scan of a generated 50 000-message Maildir with a warm cache, against sha1sum over the
# same files in the same run, with jdupes -r on the same tree beside it; then the per-message path
# stage by stage and, where perf is installed, a profile of one scan.
#
# Usage: bench/maildir-scan.sh [build directory (default build/default)] [messages (50000)]
# The store is generated once under <build>/bench-data and left unchanged by the runs: the scan
# runs with an action that counts duplicates without touching them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
messages=${2:-50000}
rounds=${ROUNDS:-5}
scan="$build/bench/pairsweep_bench_maildir_scan"
path_bench="$build/bench/pairsweep_bench_maildir_path"
for program in "$scan" "$path_bench"; do
  [ -x "$program" ] || { echo "missing $program: build the bench targets first" >&2; exit 1; }
done

store="$build/bench-data/maildir-$messages"
[ -L "$store" ] && store=$(readlink -f "$store")
if [ ! -d "$store" ]; then
  echo "Generating $messages messages in $store"
  python3 "$root/bench/maildir-generate.py" "$store.partial" --messages "$messages"
  mv "$store.partial" "$store"
fi
list=$(mktemp)
trap 'rm -f "$list" "$list".*' EXIT
find "$store" -type f \( -path '*/cur/*' -o -path '*/new/*' \) -print0 >"$list"
count=$(tr -cd '\0' <"$list" | wc -c)
bytes=$(xargs -0 cat <"$list" | wc -c)
echo "Store: $count messages, $((bytes / 1048576)) MiB, $(nproc) cores"

seconds() {  # runs the command and prints its wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

xargs -0 cat <"$list" >/dev/null  # warm the cache
for ((i = 1; i <= rounds; ++i)); do
  seconds xargs -0 sha1sum <"$list" >>"$list.sha1"
  seconds "$scan" "$store" --runs 1 >>"$list.scan"
  if command -v jdupes >/dev/null; then seconds jdupes -r -q "$store" >>"$list.jdupes"; fi
done
sha1=$(median <"$list.sha1")
full=$(median <"$list.scan")
echo "Median of $rounds rounds, warm cache:"
echo "  sha1sum over the files:  $sha1 s   (runs: $(tr '\n' ' ' <"$list.sha1"))"
echo "  Pairsweep full scan:     $full s   (runs: $(tr '\n' ' ' <"$list.scan"))"
awk -v a="$full" -v b="$sha1" 'BEGIN { printf "  ratio scan / sha1sum:    %.2f (goal: at most 1.3)\n", a / b }'
if [ -s "$list.jdupes" ]; then
  echo "  jdupes -r:               $(median <"$list.jdupes") s   (runs: $(tr '\n' ' ' <"$list.jdupes"))"
else
  echo "  jdupes -r:               not installed"
fi

echo
echo "Per-message path, stage by stage (time per message = 1 / items_per_second):"
PAIRSWEEP_BENCH_MAILDIR="$store" "$path_bench" --benchmark_min_time=0.5 2>/dev/null |
  grep -E '^(BM_|-|Benchmark)'

if command -v perf >/dev/null && perf record -e cpu-clock -o "$list.perf" -q true 2>/dev/null; then
  perf record -e cpu-clock -F 4999 -o "$list.perf" -q "$scan" "$store" --runs 1 >/dev/null 2>&1
  report() { perf report -i "$list.perf" --no-children --stdio "$@" 2>/dev/null | grep -E '^ +[0-9]'; }
  echo
  echo "Profile of one full scan, by library:"
  report --sort dso | awk '{ print "  " $1, $2 }'
  echo "and by function (top 15; libraries without symbols are summed above only):"
  report --sort dso,symbol | grep -v ' 0x0' | head -15 | awk '{ $NF = ""; $(NF - 1) = ""; print "  " $0 }'
fi
