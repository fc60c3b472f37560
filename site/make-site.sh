#!/bin/sh
# make-site.sh: lay out an install site of the Dorna print suite.
#
# The package tree pkg/ (the package list, the suite's programs, the SELinux
# script) is put into a tar archive, compressed with compress(1) when it is
# installed and with gzip otherwise (the installer tries uncompress first and
# falls back to gzip -d, which reads both), and cut into pieces pkg_tar.aa,
# pkg_tar.ab, ... Beside the pieces the site holds:
#   disks  the files the installer copies into its work directory, one a line:
#          disks itself, then the pieces in the order of their bytes, then
#          the line end_of_list
#   isize  the room the installation takes in the install root
#   tsize  the room the work directory needs at its fullest
#   setup  the installer, when one is given
# Sizes are in 1024-byte blocks, the unit of the Avail column of df.
#
# The site is built beside OUT and then renamed into place, so that OUT is
# always either the old site or the whole new one.
set -eu

usage() {
	cat <<'EOF'
Usage: make-site.sh -o OUT -l PKG-LIST -s SELINUX-SCRIPT [-i SETUP] [-n PIECES] PROGRAM...
Lay out the install site OUT from the package list, the SELinux script and
the suite's PROGRAMs; -i adds the installer, -n sets the number of archive
pieces (default 3).
EOF
}

die() {
	echo "make-site.sh: $*" >&2
	exit 1
}

out="" list="" selinux="" setup="" pieces=3
while getopts o:l:s:i:n:h opt; do
	case $opt in
	o) out=$OPTARG ;;
	l) list=$OPTARG ;;
	s) selinux=$OPTARG ;;
	i) setup=$OPTARG ;;
	n) pieces=$OPTARG ;;
	h)
		usage
		exit 0
		;;
	*)
		usage >&2
		exit 2
		;;
	esac
done
shift $((OPTIND - 1))
if [ -z "$out" ] || [ -z "$list" ] || [ -z "$selinux" ] || [ $# -eq 0 ]; then
	usage >&2
	exit 2
fi
case $pieces in
'' | *[!0-9]* | 0) die "the number of pieces must be a positive number: $pieces" ;;
esac
for f in "$list" "$selinux" "$@" ${setup:+"$setup"}; do
	[ -f "$f" ] || die "missing: $f"
done

# Absolute paths: the pieces are cut from inside the new site directory.
absolute() { case $1 in /*) printf '%s\n' "$1" ;; *) printf '%s/%s\n' "$PWD" "$1" ;; esac; }
out=$(absolute "$out")
out=${out%/}

base=DornaLinuxi386Dpxx
new=$out.new.$$
stage=$out.stage.$$
trap 'rm -rf "$new" "$stage"' EXIT
rm -rf "$new" "$stage"
mkdir -p "$new" "$stage/pkg/selinux"

# The package tree, owned by root once unpacked (tar xvfp as root keeps the
# owners recorded in the archive).
cp "$list" "$stage/pkg/pkg.list"
chmod 644 "$stage/pkg/pkg.list"
cp "$selinux" "$stage/pkg/selinux/"
chmod 755 "$stage/pkg/selinux/$(basename "$selinux")"
for p in "$@"; do
	cp "$p" "$stage/pkg/"
	# Debug information would make up most of the pieces.
	if command -v strip >/dev/null 2>&1; then
		strip --strip-debug "$stage/pkg/$(basename "$p")"
	fi
	chmod 755 "$stage/pkg/$(basename "$p")"
done
(cd "$stage" && tar --owner=0 --group=0 --numeric-owner --sort=name -cf "$base.tar" pkg)

if command -v compress >/dev/null 2>&1; then
	compress -c "$stage/$base.tar" >"$stage/$base.tar.Z"
else
	gzip -9 -n -c "$stage/$base.tar" >"$stage/$base.tar.Z"
fi

# Equal pieces, the last one shorter: ceil(size / pieces) bytes each.
zsize=$(wc -c <"$stage/$base.tar.Z")
piece=$(((zsize + pieces - 1) / pieces))
[ "$piece" -gt 0 ] || piece=1
(cd "$new" && split -b "$piece" -a 2 "$stage/$base.tar.Z" pkg_tar.)

{
	echo disks
	(cd "$new" && ls pkg_tar.*)
	echo end_of_list
} >"$new/disks"

blocks() { du -sk "$@" | awk '{ n += $1 } END { print n + 0 }'; }

# Install root: the package tree, plus one block each for the three generated
# scripts and the flags file.
echo $(($(blocks "$stage/pkg") + 4 * 4)) >"$new/isize"
# Work directory at its fullest: the copied pieces and list, the archive
# decompressed beside the compressed one, then the tree unpacked beside the
# archive.
pieces_blocks=$(blocks "$new"/pkg_tar.* "$new/disks")
z_blocks=$(blocks "$stage/$base.tar.Z")
tree_blocks=$(blocks "$stage/pkg")
[ "$tree_blocks" -gt "$z_blocks" ] || tree_blocks=$z_blocks
echo $((pieces_blocks + $(blocks "$stage/$base.tar") + tree_blocks)) >"$new/tsize"

if [ -n "$setup" ]; then
	cp "$setup" "$new/setup"
	chmod 755 "$new/setup"
fi
chmod 644 "$new/disks" "$new/isize" "$new/tsize" "$new"/pkg_tar.*

rm -rf "$out"
mv "$new" "$out"
