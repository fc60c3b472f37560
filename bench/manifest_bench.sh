#!/usr/bin/env bash
# manifest_bench.sh: what checking and previewing an installation cost.
#
# In the sandbox, installs the sample site under /opt with the real `setup`,
# then times, alternating, `setup --verify` against `sha256sum -c` of a
# checksum list of the same regular files (the work every package manager's
# verify does at least), each the fastest of R runs. In two more sandboxes it
# times `setup --preview` and a plain installation of the same site, each the
# fastest of P runs in a sandbox of its own.
#
# Usage: bench/manifest_bench.sh [BUILD-DIR] [R] [P]
#   BUILD-DIR  a configured and built tree (default build/default; it needs
#              the targets setup and site)
#   R          runs of each verify (default 50); P runs of each install (default 3)
#
# Rows of bench/run (the values are the bench-value lines printed at the end):
# bench-row: setup --verify of the sample installation against sha256sum -c of its files | verify | sha256sum | ratio<=1.2
# bench-row: setup --preview against a plain installation in the sandbox, wall time | preview | install | ratio<=1.3
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build/default}" && pwd)
reps=${2:-50}
installs=${3:-3}
site=$build/dorna-site
sandbox=$src/tools/sandbox/sandbox
[ -x "$site/setup" ] || { echo "manifest_bench.sh: no $site/setup; build the target site" >&2; exit 2; }
"$sandbox" --check >/dev/null || { echo "manifest_bench.sh: no sandbox here" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/manifest-bench.XXXXXX")
cleanup() {
	local d
	for d in "$scratch"/up*; do "$sandbox" --clean "$d" >/dev/null 2>&1; done
	rm -rf "$scratch"
}
trap cleanup EXIT

cat >"$scratch/verify.sh" <<'EOS'
set -eu
reps=$1
/tmp/site/setup --accept-agreement install /opt >/dev/null
# The regular files of the manifest, as sha256sum -c reads them.
awk '$2 == "file" { print $7 "  " $1 }' /var/lib/Dorna/dpxx.manifest >/tmp/sums
now() { date +%s%N; }
best_verify=0 best_sum=0
i=0
while [ "$i" -lt "$reps" ]; do
	t0=$(now); /tmp/site/setup --verify >/dev/null; t1=$(now)
	sha256sum --quiet -c /tmp/sums >/dev/null; t2=$(now)
	v=$((t1 - t0)) s=$((t2 - t1))
	if [ "$best_verify" -eq 0 ] || [ "$v" -lt "$best_verify" ]; then best_verify=$v; fi
	if [ "$best_sum" -eq 0 ] || [ "$s" -lt "$best_sum" ]; then best_sum=$s; fi
	i=$((i + 1))
done
echo "files: $(wc -l </tmp/sums), verify ${best_verify} ns, sha256sum ${best_sum} ns"
echo "bench-value: verify $best_verify ns"
echo "bench-value: sha256sum $best_sum ns"
EOS
"$sandbox" -r "$site:/tmp/site" -r "$scratch/verify.sh:/tmp/verify.sh" -o /opt -u LANG \
	"$scratch/up-verify" -- bash /tmp/verify.sh "$reps"

# One installation (or preview) in a fresh sandbox; prints its wall time in ns.
one() {
	local up=$scratch/up-$1-$2
	local t0 t1
	t0=$(date +%s%N)
	local -a op=()
	[ -z "$3" ] || op=("$3")
	"$sandbox" --allow-mounts -r "$site:/tmp/site" -o /opt -u LANG "$up" -- \
		/tmp/site/setup --accept-agreement "${op[@]}" /tmp /opt >/dev/null 2>&1 || true
	t1=$(date +%s%N)
	"$sandbox" --clean "$up" >/dev/null 2>&1
	echo $((t1 - t0))
}
best_preview=0 best_install=0
i=0
while [ "$i" -lt "$installs" ]; do
	p=$(one preview "$i" --preview)
	n=$(one install "$i" "")
	if [ "$best_preview" -eq 0 ] || [ "$p" -lt "$best_preview" ]; then best_preview=$p; fi
	if [ "$best_install" -eq 0 ] || [ "$n" -lt "$best_install" ]; then best_install=$n; fi
	i=$((i + 1))
done
echo "preview ${best_preview} ns, install ${best_install} ns"
echo "bench-value: preview $best_preview ns"
echo "bench-value: install $best_install ns"
