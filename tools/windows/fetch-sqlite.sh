#!/usr/bin/env bash
# Makes the SQLite amalgamation (sqlite3.c, sqlite3.h) and the sqlite3 shell's
# source (shell.c) of the very source package version the Linux build links, for
# the Windows cross-build and its tests.
#
#   tools/windows/fetch-sqlite.sh OUTDIR
#
# The source package comes through a private apt directory under OUTDIR: the
# machine's own apt sources, lists and settings are read, never changed.
set -euo pipefail

out=$(mkdir -p "$1" && cd "$1" && pwd)
if [ -f "$out/sqlite3.c" ] && [ -f "$out/sqlite3.h" ] && [ -f "$out/shell.c" ]; then
    exit 0
fi

version=$(dpkg-query -W -f='${source:Version}' libsqlite3-0)
apt_dir="$out/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"

# deb-src twins of the machine's Debian entries, in our own folder.
: >"$apt_dir/sources.list"
for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    if grep -qi '^URIs:.*debian' "$file"; then
        sed -e 's/^Types:.*/Types: deb-src/' "$file" >"$apt_dir/sources.list.d/$(basename "$file")"
    fi
done
if [ -f /etc/apt/sources.list ]; then
    sed -n -e 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list >>"$apt_dir/sources.list"
fi

apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "Debug::NoLocking=1"
    -o "APT::Sandbox::User=root"
)
echo "Fetching the sqlite3 $version source package" >&2
apt-get "${apt_options[@]}" update -qq
work="$out/src"
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get "${apt_options[@]}" source --download-only -qq "sqlite3=$version")
(cd "$work" && dpkg-source --no-check -x ./*.dsc tree >/dev/null)

# The amalgamation as Debian's build makes it: upstream sources with its patches.
echo "Making sqlite3.c and shell.c" >&2
(cd "$work/tree" && ./configure --disable-tcl >/dev/null && make sqlite3.c shell.c >/dev/null)
# An unchanged file keeps its time: a build made from it stays up to date.
for file in sqlite3.c sqlite3.h shell.c; do
    cmp -s "$work/tree/$file" "$out/$file" || cp "$work/tree/$file" "$out/"
done
rm -rf "$work" "$apt_dir/cache"
