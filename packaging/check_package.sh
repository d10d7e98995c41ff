#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and checks the tree it
# leaves (a second install keeps a changed runtime configuration), then
# builds the Debian package, checks its metadata, unpacks it into a
# temporary root and runs the unpacked program.  Nothing is installed on the
# system.  Exit status 77: dpkg-deb is missing, the check is skipped.
#
#   check_package.sh BUILD_DIR VERSION CMAKE CPACK
set -euo pipefail
build=$(cd "$1" && pwd) version=$2 cmake=$3 cpack=$4
command -v dpkg-deb >/dev/null || { echo "dpkg-deb not found: skipped"; exit 77; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# What an installation under PREFIX must hold; $1 is the prefix.
check_tree() {
  local f
  for f in bin/ZVClient bin/zvagent-standin bin/etc/.runtime.xml \
    share/man/man1/ZVClient.1.gz share/bash-completion/completions/ZVClient \
    share/doc/zvclient/README.md share/doc/zvclient/copyright \
    share/doc/zvclient/examples/runtime.xml \
    share/doc/zvclient/examples/zvclient-recover.service \
    share/doc/zvclient/examples/zvclient-recover.timer \
    share/doc/zvclient/examples/zvclient-recover.cron; do
    [ -f "$1/$f" ] || fail "$f is not installed below $1"
  done
  [ -x "$1/bin/ZVClient" ] && [ -x "$1/bin/zvagent-standin" ] || fail "programs are not executable"
  grep -q "<http port=\"2010\"/>" "$1/bin/etc/.runtime.xml" || fail "runtime configuration names no port"
}

# The installed program prints the version of the build.
check_version() {
  local out line
  out=$("$1" --version)
  line=${out%%$'\n'*}
  [ "$line" = "ZVClient $version (native)" ] || fail "$1 --version printed: $line"
}

prefix=$tmp/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
check_tree "$prefix"
check_version "$prefix/bin/ZVClient"
grep -q "ExecStart=$prefix/bin/ZVClient --recover-file" \
  "$prefix/share/doc/zvclient/examples/zvclient-recover.service" ||
  fail "the systemd example does not start the installed program by its full path"
echo '<runtime><http port="4242"/></runtime>' >"$prefix/bin/etc/.runtime.xml"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
grep -q 4242 "$prefix/bin/etc/.runtime.xml" || fail "a second install replaced the runtime configuration"

(cd "$tmp" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package") >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; fail "cpack"; }
debs=("$tmp"/package/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb"
deb=${debs[0]}
[ "$(dpkg-deb -f "$deb" Package)" = zvclient ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>=' || fail "no libc6 dependency: was dpkg-shlibdeps run?"
dpkg-deb -e "$deb" "$tmp/control"
grep -qx /usr/bin/etc/.runtime.xml "$tmp/control/conffiles" || fail "the runtime configuration is no conffile"
dpkg-deb -x "$deb" "$tmp/root"
check_tree "$tmp/root/usr"
check_version "$tmp/root/usr/bin/ZVClient"
echo "package $(basename "$deb") checked"
