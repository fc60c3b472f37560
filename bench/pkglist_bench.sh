#!/usr/bin/env bash
# pkglist_bench.sh: how much the installer's package-list processing costs
# beside the commands it runs.
#
# Builds an install site whose package holds N small files and a pkg.list of
# N lines "c fNNNN mode 644", installs it with the real `setup` as root in
# the sandbox, and, in the same sandbox, runs a plain sh script with the same
# cp -p and chmod commands and the same log redirections. Prints the wall
# times, their ratio, and the installer's own CPU time (without its
# children, read from /proc while it is a zombie) as a share of the run.
#
# The installer's own CPU is the scheduler's count of the time its process
# ran (/proc/PID/schedstat, in nanoseconds; the clock ticks of /proc/PID/stat
# where that is missing): the work of the commands it starts is theirs. Both
# that time and the wall time only grow with the machine's other load, so
# bench/run takes the smallest of each over its repetitions and divides them;
# the smallest share of a single run would favour a run whose wall time the
# load stretched.
#
# Usage: bench/pkglist_bench.sh [BUILD-DIR] [N]
#   BUILD-DIR  a configured and built tree (default build/default; it needs
#              the targets setup and the sandbox)
#   N          number of package-list lines (default 2000)
#
# Rows of bench/run (the values are the bench-value lines printed at the end):
# bench-row: installer's own CPU against its wall time, 2,000-line package list | own-cpu | setup-wall | ratio<0.02
# bench-row: installer's own CPU, share of all CPU of the run | own-cpu-all-share | - | -
# bench-row: setup against a plain sh script with the same commands, wall time | setup-wall | plain-wall | ratio<=1.1
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build/default}" && pwd)
n=${2:-2000}
case $n in '' | *[!0-9]*) echo "pkglist_bench.sh: N must be a number" >&2; exit 2 ;; esac
setup=$build/installer/setup
sandbox=$src/tools/sandbox/sandbox
[ -x "$setup" ] || { echo "pkglist_bench.sh: no $setup; build the target setup" >&2; exit 2; }
"$sandbox" --check >/dev/null || { echo "pkglist_bench.sh: no sandbox here" >&2; exit 2; }

scratch=$build/pkglist-bench
rm -rf "$scratch"
mkdir -p "$scratch/stage/pkg" "$scratch/site"
trap '"$sandbox" --clean "$scratch/upper" >/dev/null 2>&1; rm -rf "$scratch"' EXIT

# The package: N files and their list; the suite's programs are not needed.
(
	cd "$scratch/stage/pkg"
	i=0
	while [ "$i" -lt "$n" ]; do
		f=$(printf 'f%04d' "$i")
		echo "$f" >"$f"
		echo "c $f mode 644" >>pkg.list
		i=$((i + 1))
	done
)
(cd "$scratch/stage" && tar -cf DornaLinuxi386Dpxx.tar pkg && gzip -n DornaLinuxi386Dpxx.tar &&
	mv DornaLinuxi386Dpxx.tar.gz "$scratch/site/pkg_tar.aa")
printf 'disks\npkg_tar.aa\nend_of_list\n' >"$scratch/site/disks"
echo 100000 >"$scratch/site/isize"
echo 100000 >"$scratch/site/tsize"
cp "$setup" "$scratch/site/setup"

# The same commands as a plain script, as SysCmd runs them but without the
# installer around them.
{
	echo 'W=/tmp/DornaInstall/pkg APP=/var/tmp/plain'
	echo 'mkdir -p $APP'
	i=0
	while [ "$i" -lt "$n" ]; do
		f=$(printf 'f%04d' "$i")
		echo "/usr/bin/cp -p \$W/$f \$APP 1>>/tmp/plain.log 2>>/tmp/plain.log"
		echo "/usr/bin/chmod 644 \$APP/$f 1>>/tmp/plain.log 2>>/tmp/plain.log"
		i=$((i + 1))
	done
} >"$scratch/plain.sh"

cat >"$scratch/measure.py" <<'EOF'
import os, resource, subprocess, sys, time

tick = os.sysconf("SC_CLK_TCK")

def run(argv, stdin=b""):
    """Wall time, own CPU and children's CPU of one command."""
    start = time.monotonic()
    p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    p.stdin.write(stdin)
    p.stdin.close()
    # Wait without reaping: the zombie's /proc entry still holds its times.
    os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOWAIT)
    fields = open("/proc/%d/stat" % p.pid).read().rsplit(")", 1)[1].split()
    own = (int(fields[11]) + int(fields[12])) / tick
    children = (int(fields[13]) + int(fields[14])) / tick
    try:
        # The same time in nanoseconds (the program has one thread).
        own = int(open("/proc/%d/schedstat" % p.pid).read().split()[0]) / 1e9
    except (OSError, ValueError, IndexError):
        pass
    status = p.wait()
    return time.monotonic() - start, own, children, status

site, plain = sys.argv[1], sys.argv[2]
w1, own1, ch1, st1 = run([site + "/setup"], b"y\n")
# The plain script reads the tree setup left unpacked: unpack it again.
subprocess.run(["sh", "-c", "mkdir -p /tmp/DornaInstall && cd /tmp/DornaInstall &&"
                " gzip -dc " + site + "/pkg_tar.aa | tar xf -"], check=True)
w2, own2, ch2, st2 = run(["sh", plain])
print("setup status %d, plain status %d" % (st1, st2))
print("setup:   wall %.2f s, own CPU %.4f s, children CPU %.2f s" % (w1, own1, ch1))
print("plain:   wall %.2f s, shell CPU %.3f s, children CPU %.2f s" % (w2, own2, ch2))
print("ratio of wall times setup/plain: %.2f" % (w1 / w2))
print("installer's own CPU: %.2f %% of its wall time, %.2f %% of all CPU of the run"
      % (100 * own1 / w1, 100 * own1 / (own1 + ch1)))
print("bench-value: setup-wall %.3f s" % w1)
print("bench-value: plain-wall %.3f s" % w2)
print("bench-value: own-cpu %.4f s" % own1)
print("bench-value: own-cpu-wall-share %.3f %%" % (100 * own1 / w1))
print("bench-value: own-cpu-all-share %.3f %%" % (100 * own1 / (own1 + ch1)))
EOF

"$sandbox" -r "$scratch/site:/tmp/site" -r "$scratch/plain.sh:/tmp/plain.sh" \
	-r "$scratch/measure.py:/tmp/measure.py" "$scratch/upper" -- \
	python3 /tmp/measure.py /tmp/site /tmp/plain.sh
