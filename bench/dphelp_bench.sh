#!/usr/bin/env bash
# dphelp_bench.sh: `dphelp --dump` against `w3m -dump -cols 80` (Debian's
# w3m), whole processes timed side by side in one run.
#
# Two inputs: the help file that ships with the queue-settings tool, and a
# generated help file of about 4 MB (pages of paragraphs, numbered lists,
# links and bordered tables). Each round runs both programs on an input
# once, alternating which goes first; the wall time of ROUNDS rounds is
# summed per program. The maximum resident size of one run of each comes
# from GNU time. Prints milliseconds per run, kilobytes, and the ratios
# dphelp / w3m (below 1 means dphelp is faster or smaller).
#
# Usage: bench/dphelp_bench.sh [BUILD-DIR] [ROUNDS]
#   BUILD-DIR  a configured and built tree (default build/default; it needs
#              the target dphelp)
#   ROUNDS     rounds on the small file (default 100; the 4 MB file gets a
#              tenth of them, at least 3)
#
# Rows of bench/run (targets: at most 0.7 times w3m's time on the help file,
# at most its time on the 4 MB file, at most its maximum resident size):
# bench-row: help viewer dump, shipped help file: time | dphelp_small_ms | w3m_small_ms | ratio<=0.7
# bench-row: help viewer dump, shipped help file: max RSS | dphelp_small_rss | w3m_small_rss | ratio<=1.0
# bench-row: help viewer dump, 4 MB help file: time | dphelp_large_ms | w3m_large_ms | ratio<=1.0
# bench-row: help viewer dump, 4 MB help file: max RSS | dphelp_large_rss | w3m_large_rss | ratio<=1.0
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build/default}" && pwd)
rounds=${2:-100}
case $rounds in '' | *[!0-9]* | 0) echo "dphelp_bench.sh: ROUNDS must be a positive number" >&2; exit 2 ;; esac
dphelp=$build/tools/dphelp/dphelp
[ -x "$dphelp" ] || { echo "dphelp_bench.sh: no $dphelp; build the target dphelp" >&2; exit 2; }
command -v w3m >/dev/null || { echo "dphelp_bench.sh: w3m is not installed (apt-get install w3m)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "dphelp_bench.sh: GNU time is not installed (apt-get install time)" >&2; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export LANG=C.UTF-8 LC_ALL=

small=$src/tools/dpqsettings/dpqsettings.html
large=$scratch/large.html

# The generated file: 100 pages; each has a heading, paragraphs with links
# and references, a numbered list and a bordered table of 40 rows.
awk -v target=4194304 'BEGIN {
  size = 0; page = 0
  while (size < target) {
    s = "<html page=\"p" page "\"><head><title>Page " page " of the generated help</title></head><body>\n"
    s = s "<h2>Section " page "</h2>\n"
    for (p = 0; p < 12; p++) {
      s = s "<p>Paragraph " p " of page " page " tells how the queue &eacute;dition " p " handles jobs; "
      s = s "see <a href=\"#p" (page + 1) "\">the next page</a> or <a href=\"#n" page "_" p "\">this note</a>. "
      s = s "Jobs wait in the spool directory until the printer is free, then they are sent.</p>\n"
      s = s "<a name=\"n" page "_" p "\"></a>\n"
    }
    s = s "<ol>\n"
    for (i = 0; i < 20; i++) s = s "<li>Step " i " of the procedure on <b>page " page "</b>.\n"
    s = s "</ol>\n<table border cellpadding=7>\n"
    for (r = 0; r < 40; r++) s = s "<tr><td>row " r "</td><td>queue" r "</td><td><a href=\"#p" page "\">" r * 7 " jobs</a></td></tr>\n"
    s = s "</table>\n</body></html>\n"
    printf "%s", s
    size += length(s); page++
  }
}' >"$large"

now() { date +%s%N; }

# bench NAME KEY FILE ROUNDS: the wall times and maximum resident sizes.
bench() {
  local name=$1 key=$2 file=$3 n=$4 ours=0 theirs=0 t0 i
  for ((i = 0; i < n; i++)); do
    if ((i % 2 == 0)); then
      t0=$(now); "$dphelp" --dump "$file" >/dev/null; ours=$((ours + $(now) - t0))
      t0=$(now); w3m -dump -cols 80 -T text/html "$file" >/dev/null; theirs=$((theirs + $(now) - t0))
    else
      t0=$(now); w3m -dump -cols 80 -T text/html "$file" >/dev/null; theirs=$((theirs + $(now) - t0))
      t0=$(now); "$dphelp" --dump "$file" >/dev/null; ours=$((ours + $(now) - t0))
    fi
  done
  local rss_ours rss_theirs
  rss_ours=$(/usr/bin/time -f %M "$dphelp" --dump "$file" 2>&1 >/dev/null | tail -1)
  rss_theirs=$(/usr/bin/time -f %M w3m -dump -cols 80 -T text/html "$file" 2>&1 >/dev/null | tail -1)
  awk -v name="$name" -v key="$key" -v bytes="$(wc -c <"$file")" -v n="$n" -v a="$ours" -v b="$theirs" \
      -v ra="$rss_ours" -v rb="$rss_theirs" 'BEGIN {
    printf "%-24s %9d bytes, %4d rounds: dphelp %8.2f ms, w3m %8.2f ms, time ratio %.2f; ", name, bytes, n, a / n / 1e6, b / n / 1e6, a / b
    printf "max RSS dphelp %d KB, w3m %d KB, ratio %.2f\n", ra, rb, ra / rb
    printf "bench-value: dphelp_%s_ms %.3f ms\nbench-value: w3m_%s_ms %.3f ms\n", key, a / n / 1e6, key, b / n / 1e6
    printf "bench-value: dphelp_%s_rss %d KB\nbench-value: w3m_%s_rss %d KB\n", key, ra, key, rb
  }'
}

echo "dphelp --dump against w3m -dump -cols 80 (ratios dphelp / w3m)"
bench "shipped help file" small "$small" "$rounds"
large_rounds=$((rounds / 10 < 3 ? 3 : rounds / 10))
bench "generated 4 MB file" large "$large" "$large_rounds"
