#!/usr/bin/env bash
# fleet_bench.sh: what a fleet of hosts costs the Ansible role.
#
# Starts five sandboxed hosts with their own sshd (e2e/fleet/fleet), installs
# the sample site with one run of the example playbook on host 5 alone, then
# with one run (-f 4) on hosts 1 to 4 together, then runs the playbook on
# hosts 1 to 4 again, which finds them current and runs no setup. Prints the
# wall time of each run.
#
# Usage: bench/fleet_bench.sh [BUILD-DIR]
#   BUILD-DIR  a configured and built tree (default build/default; it needs
#              the targets setup and site)
#
# Rows of bench/run (the values are the bench-value lines printed at the end):
# bench-row: role on four hosts in one run against one host alone, wall time | four-wall | one-wall | ratio<=2.5
# bench-row: role's second, idempotent run against the first, four hosts, wall time | again-wall | four-wall | ratio<=0.3
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build/default}" && pwd)
fleet=$src/e2e/fleet/fleet
site=$build/dorna-site
[ -x "$site/setup" ] || { echo "fleet_bench.sh: no $site/setup; build the target site" >&2; exit 2; }
command -v ansible-playbook >/dev/null || { echo "fleet_bench.sh: ansible-playbook is not installed" >&2; exit 2; }
"$src/tools/sandbox/sandbox" --check >/dev/null || { echo "fleet_bench.sh: no sandbox here" >&2; exit 2; }

dir=$build/fleet-bench-$$
trap '"$fleet" down "$dir"' EXIT
"$fleet" up "$dir" 5 "dorna_suite_site=$site" >/dev/null

play() {
	ANSIBLE_NOCOLOR=1 ANSIBLE_PIPELINING=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
		ANSIBLE_LOCAL_TEMP="$dir/ansible-local" ANSIBLE_SSH_CONTROL_PATH_DIR="$dir/cp" \
		ansible-playbook -f 4 -i "$dir/inventory.ini" "$src/deploy/ansible/site.yml" "$@" >"$dir/play.log" 2>&1 ||
		{ cat "$dir/play.log" >&2; echo "fleet_bench.sh: the playbook failed" >&2; exit 1; }
}

seconds() {
	awk -v from="$1" -v to="$EPOCHREALTIME" 'BEGIN { printf "%.3f", to - from }'
}

start=$EPOCHREALTIME
play -l host5
one=$(seconds "$start")
start=$EPOCHREALTIME
play -l 'host1:host2:host3:host4'
four=$(seconds "$start")
start=$EPOCHREALTIME
play -l 'host1:host2:host3:host4'
again=$(seconds "$start")

echo "bench-value: one-wall $one s"
echo "bench-value: four-wall $four s"
echo "bench-value: again-wall $again s"
