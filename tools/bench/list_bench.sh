#!/usr/bin/env bash
# Benchmark (not a test) of the rows of a long batch: vq_headless --list with N
# paths (default 20,000) in sorted, reverse and shuffled order. The paths lead
# to no file and no input module is loaded, so each row fails the moment it is
# taken and the run costs what adding, sorting, listing and taking the rows
# cost, besides the program's start and one report line a row. Every 500th
# path comes twice, the second time in capitals (equal rows, which keep their
# list order): every run's report lines are checked against the order they
# must have, and with a second bin folder (an earlier build, run in the same
# run) compared line for line with that build's. Times are wall-clock seconds of the whole process;
# a run with one row shows the start-up cost.
#   list_bench.sh <bin dir> <work dir> [<baseline bin dir>]
#   VQ_BENCH_FILES (default 20000)
set -eu
. "$(dirname "$0")/bench_common.sh" "$@"
base=${3:+$(cd "$3" && pwd)}
files=${VQ_BENCH_FILES:-20000}

bench_prefix

bench_headless_builds enc_linear
for tag in $builds; do mkdir -p "$work/$tag/out"; done

# The lists, CR LF as a Windows editor saves them.
export VQ_LIST_SRC=$(win "$work/missing")
awk -v n="$files" 'BEGIN { src = ENVIRON["VQ_LIST_SRC"]
    for (i = 1; i <= n; i++) {
        printf "%s\\track%05d.wav\r\n", src, i
        if (i % 500 == 0) printf "%s\\TRACK%05d.WAV\r\n", src, i
    } }' >"$work/sorted.txt"
tac "$work/sorted.txt" >"$work/reverse.txt"
# Shuffled, each pair of equal rows then put back in the sorted list's order.
shuf --random-source=<(yes) "$work/sorted.txt" | awk '{ l[NR] = $0; k = tolower($0)
    if (k in at) { if ($0 ~ /track[0-9]+\.wav/) { l[NR] = l[at[k]]; l[at[k]] = $0 } } else at[k] = NR }
    END { for (i = 1; i <= NR; i++) print l[i] }' >"$work/shuffled.txt"
head -1 "$work/sorted.txt" >"$work/one.txt"
rows=$(wc -l <"$work/sorted.txt")

# Prints the wall-clock seconds of one run: <build> <list>; its report lines go to <build>/<list>.out.
batch() {
    local dir=$work/$1 t0 t1
    t0=$(date +%s.%N)
    (cd "$dir" && "$run" "$dir/vq_headless.exe" --modules "$(win "$dir/modules")" --out "$(win "$dir/out")" \
        --log "$(win "$dir/bench.log")" --level 0 --list "$(win "$work/$2.txt")") >"$dir/$2.raw" || true
    t1=$(date +%s.%N)
    tr -d '\r' <"$dir/$2.raw" | grep '^FAILED: ' >"$dir/$2.out" || true
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
}

if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo "32-bit programs run through $(sed -n 's/^interpreter //p' /proc/sys/fs/binfmt_misc/qemu-i386)"
else
    echo "32-bit programs run natively"
fi
echo "$rows rows ($files paths, every 500th twice); wall-clock seconds of vq_headless --list"

declare -A times
for tag in $builds; do
    batch "$tag" one >/dev/null  # the Wine server and the disk cache warm up
done
for tag in $builds; do
    for list in one sorted reverse shuffled; do
        times[$tag-$list]=$(batch "$tag" "$list")
        n=$(wc -l <"$work/$tag/$list.out")
        [ "$list" = one ] || [ "$n" = "$rows" ] || echo "$tag $list: $n report lines, not $rows"
    done
done

printf "%-5s %10s %10s %10s %10s %14s %15s\n" build "1 row" sorted reverse shuffled "reverse/sorted" "shuffled/sorted"
for tag in $builds; do
    printf "%-5s %10s %10s %10s %10s %14s %15s\n" "$tag" "${times[$tag-one]}" "${times[$tag-sorted]}" \
        "${times[$tag-reverse]}" "${times[$tag-shuffled]}" \
        "$(awk -v a="${times[$tag-reverse]}" -v s="${times[$tag-sorted]}" 'BEGIN { printf "%.2fx", a / s }')" \
        "$(awk -v a="${times[$tag-shuffled]}" -v s="${times[$tag-sorted]}" 'BEGIN { printf "%.2fx", a / s }')"
done

# Each run must report the rows in the sorted list's order, except that the
# reverse list gives each pair of equal rows the other way round.
tr -d '\r' <"$work/sorted.txt" | sed 's/^/FAILED: /' >"$work/expected.out"
awk '{ l[NR] = $0 } END { for (i = 1; i <= NR; i++)
    if (i < NR && tolower(l[i]) == tolower(l[i + 1])) { print l[i + 1]; print l[i]; i++ } else print l[i] }' \
    "$work/expected.out" >"$work/expected-reverse.out"
diffs=0
for tag in $builds; do
    for list in sorted reverse shuffled; do
        want=$work/expected.out
        [ "$list" = reverse ] && want=$work/expected-reverse.out
        cmp -s "$want" "$work/$tag/$list.out" || { echo "$tag $list: rows reported out of order"; diffs=$((diffs + 1)); }
    done
done
if [ -n "$base" ]; then
    for list in sorted reverse shuffled; do
        cmp -s "$work/base/$list.out" "$work/new/$list.out" || { echo "$list: the builds report differently"; diffs=$((diffs + 1)); }
    done
fi
echo "report orders checked: $diffs wrong or differing"
