#!/usr/bin/env bash
# Export benchmark: rv8rec's conversions of a recording of 200 records of 130000 frames (104 MB,
# written by rv8_make_recording with the project's writer), each next to a baseline measured in
# the same run, median of 3 runs each, the file in the page cache:
#   sr, wav, h5   input bytes per second, against cp of the same file (target: at least 0.5x)
#   measure       rv8rec measure (every record measured, CSV), the same way (target: 0.5x)
#   csv           rows per second to /dev/null, against the CSV export as it was
#                 (rv8rec_csv_baseline, bench/CsvBaseline.cpp) (target: at least 2x)
#   Python        rv8rec.open() of the file, against rv8rec.read() of it (target: under 0.2 s)
# Prints the usual ROW lines (bench/BenchSummary.h). Outputs are removed before each run, so no
# run pays for deleting the one before; the cp copy likewise.
#
#   bench/export_bench.sh BUILD_DIR     (needs bin/rv8rec, bin/rv8rec_csv_baseline,
#                                        bin/rv8_make_recording in it)
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
BIN="$BUILD/bin"
SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PY=/usr/bin/python3
RECORDS=200
FRAMES=130000

work="$(mktemp -d "$BUILD/export-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
rec="$work/rec.cvx"
"$BIN/rv8_make_recording" "$rec" "$RECORDS" "$FRAMES"
cat "$rec" >/dev/null # into the page cache
bytes=$(stat -c %s "$rec")
rows=$((RECORDS * FRAMES))

# seconds OUT CMD...: wall time of one run of CMD (standard output to /dev/null), OUT removed
# before it (OUT "-": nothing to remove).
seconds() {
    local out="$1"
    shift
    [ "$out" = - ] || rm -rf "$out"
    local s=$EPOCHREALTIME
    "$@" >/dev/null
    local e=$EPOCHREALTIME
    awk -v s="$s" -v e="$e" 'BEGIN { printf "%.6f\n", e - s }'
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
row() { printf 'ROW\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$@"; }

# rv8rec measure without its summary on stderr.
measure_quietly() { "$BIN/rv8rec" measure "$@" 2>/dev/null; }

# Rounds of cp and the three binary conversions, one after the other, so that a slow spell of
# the machine hits all of them alike.
declare -A runs
for round in 1 2 3; do
    runs[cp]+="$(seconds "$work/copy.cvx" cp "$rec" "$work/copy.cvx") "
    for f in sr wav h5; do
        runs[$f]+="$(seconds "$work/out.$f" "$BIN/rv8rec" export "$rec" --format "$f" -o "$work/out.$f") "
    done
    runs[measure]+="$(seconds "$work/out.measure" measure_quietly "$rec" -o "$work/out.measure") "
done
rm -f "$work"/out.* "$work/copy.cvx"
# shellcheck disable=SC2086
cp_s=$(median ${runs[cp]})
mbps() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.0f MB/s", b / s / 1e6 }'; }
for f in sr wav h5 measure; do
    # shellcheck disable=SC2086
    t=$(median ${runs[$f]})
    ratio=$(awk -v a="$cp_s" -v b="$t" 'BEGIN { printf "%.3f", a / b }')
    met=$(awk -v r="$ratio" 'BEGIN { print (r >= 0.5 ? "yes" : "NO") }')
    what="rv8rec export --format $f"
    [ "$f" = measure ] && what="rv8rec measure"
    row "$what, ${RECORDS} x ${FRAMES} frames" "$(mbps "$t")" \
        "cp of the same file" "$(mbps "$cp_s")" "$ratio" ">= 0.5x" "$met"
done

# CSV: the old export and the new one, alternating.
base=() new=()
for round in 1 2 3; do
    base+=("$(seconds - "$BIN/rv8rec_csv_baseline" export "$rec")")
    new+=("$(seconds - "$BIN/rv8rec" export "$rec")")
done
base_s=$(median "${base[@]}")
new_s=$(median "${new[@]}")
rps() { awk -v n="$rows" -v s="$1" 'BEGIN { printf "%.2f M rows/s", n / s / 1e6 }'; }
ratio=$(awk -v a="$base_s" -v b="$new_s" 'BEGIN { printf "%.2f", a / b }')
met=$(awk -v r="$ratio" 'BEGIN { print (r >= 2 ? "yes" : "NO") }')
row "rv8rec export (CSV to /dev/null), ${RECORDS} x ${FRAMES} frames" "$(rps "$new_s")" \
    "CSV export before (CsvBaseline.cpp)" "$(rps "$base_s")" "$ratio" ">= 2x" "$met"

# Python: open() maps the file, read() reads it whole; each timed inside the interpreter.
pytime() {
    "$PY" - "$SRC/tools/python" "$rec" "$1" <<'EOF'
import sys, time
sys.path.insert(0, sys.argv[1])
import rv8rec
fn = getattr(rv8rec, sys.argv[3])
t = time.perf_counter()
r = fn(sys.argv[2])
assert len(r.records) > 0 and not r.damaged_tail
print("%.6f" % (time.perf_counter() - t))
EOF
}
if "$PY" -c 'import numpy' 2>/dev/null; then
    opens=() reads=()
    for round in 1 2 3; do
        opens+=("$(pytime open)")
        reads+=("$(pytime read)")
    done
    open_s=$(median "${opens[@]}")
    read_s=$(median "${reads[@]}")
    ms() { awk -v s="$1" 'BEGIN { printf "%.1f ms", s * 1000 }'; }
    ratio=$(awk -v a="$open_s" -v b="$read_s" 'BEGIN { printf "%.3f", a / b }')
    met=$(awk -v s="$open_s" 'BEGIN { print (s < 0.2 ? "yes" : "NO") }')
    row "rv8rec.open() of ${RECORDS} x ${FRAMES} frames (Python)" "$(ms "$open_s")" \
        "rv8rec.read() of the file" "$(ms "$read_s")" "$ratio" "< 200 ms" "$met"
fi
