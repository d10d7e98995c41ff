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

# What an installation under PREFIX must hold; $1 is the prefix (or the
# package's unpacked /usr), $2 the configuration directory.
check_tree() {
  local f
  for f in lib/zvclient/ZVClient lib/zvclient/zvagent-standin lib/zvclient/recover-all \
    share/man/man1/ZVClient.1.gz share/bash-completion/completions/ZVClient \
    share/doc/zvclient/README.md share/doc/zvclient/copyright share/doc/zvclient/changelog.gz \
    share/doc/zvclient/examples/runtime.xml \
    share/doc/zvclient/examples/zvclient-recover.service \
    share/doc/zvclient/examples/zvclient-recover.timer \
    share/doc/zvclient/examples/zvclient-recover.cron; do
    [ -f "$1/$f" ] || fail "$f is not installed below $1"
  done
  [ -x "$1/lib/zvclient/ZVClient" ] && [ -x "$1/lib/zvclient/zvagent-standin" ] || fail "programs are not executable"
  [ "$(readlink "$1/bin/ZVClient")" = ../lib/zvclient/ZVClient ] || fail "bin/ZVClient is no link to the program"
  [ "$(readlink "$1/lib/zvclient/etc")" = "$2" ] || fail "lib/zvclient/etc does not lead to $2"
  [ ! -e "$1/bin/zvagent-standin" ] || fail "the stand-in agent is in PATH"
  grep -q "<http port=\"2010\"/>" "$3/.runtime.xml" || fail "runtime configuration names no port"
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
check_tree "$prefix" "$prefix/etc/zvclient" "$prefix/etc/zvclient"
check_version "$prefix/bin/ZVClient"
grep -q "ExecStart=$prefix/lib/zvclient/recover-all" \
  "$prefix/share/doc/zvclient/examples/zvclient-recover.service" ||
  fail "the systemd example does not start the installed recover-all by its full path"
# A second install keeps a changed configuration; through PATH, from
# another directory, the program reads it (here: the port of the installed
# stand-in agent).
"$prefix/lib/zvclient/zvagent-standin" --max-requests 1 --exit-after-idle 20000 >"$tmp/agent.out" &
agent=$!
for _ in $(seq 100); do [ -s "$tmp/agent.out" ] && break; sleep 0.1; done
port=$(sed -n 's/^port //p' "$tmp/agent.out")
[ -n "$port" ] || fail "the installed stand-in agent did not start"
echo "<runtime><http port=\"$port\"/></runtime>" >"$prefix/etc/zvclient/.runtime.xml"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
grep -q "$port" "$prefix/etc/zvclient/.runtime.xml" || fail "a second install replaced the runtime configuration"
mkdir "$tmp/elsewhere"
(cd "$tmp/elsewhere" && PATH="$prefix/bin:/usr/bin:/bin" ZVClient --get-status) >"$tmp/out" 2>&1 ||
  fail "ZVClient through PATH did not use the installed configuration: $(cat "$tmp/out")"
grep -q '<subclass>Status</subclass>' "$tmp/out" || fail "no status: $(cat "$tmp/out")"
wait "$agent"

# The package, with a maintainer as a packager sets one.
(cd "$tmp" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" \
  -D "CPACK_PACKAGE_CONTACT=ZVClient developers <zvclient@zelvane.example>") >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; fail "cpack"; }
debs=("$tmp"/package/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb"
deb=${debs[0]}
[ "$(dpkg-deb -f "$deb" Package)" = zvclient ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>=' || fail "no libc6 dependency: was dpkg-shlibdeps run?"
dpkg-deb -e "$deb" "$tmp/control"
grep -qx /etc/zvclient/.runtime.xml "$tmp/control/conffiles" || fail "the runtime configuration is no conffile"
dpkg-deb -x "$deb" "$tmp/root"
check_tree "$tmp/root/usr" /etc/zvclient "$tmp/root/etc/zvclient"
check_version "$tmp/root/usr/lib/zvclient/ZVClient"
if command -v lintian >/dev/null; then
  # Errors fail the check, but for the placeholder address of a build
  # configured without ZV_PACKAGE_MAINTAINER; warnings are shown.
  lintian --tag-display-limit 0 "$deb" >"$tmp/lintian.log" 2>&1 || true
  cat "$tmp/lintian.log"
  ! grep '^E: ' "$tmp/lintian.log" | grep -qv 'bogus-mail-host.* root@localhost' ||
    fail "lintian found errors"
else
  echo "lintian not found: the package was not checked by it"
fi
echo "package $(basename "$deb") checked"
