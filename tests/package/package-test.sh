#!/usr/bin/env bash
# The Debian package, as a user gets it: tools/build-deb.sh makes it; lintian
# finds no error in it; unpacked into a scratch root (dpkg -x), its vudconv,
# with no library search path, finds its private GOGO.DLL and encoder helper
# relative to itself and converts samples/voice/ into an archive its vudinfo
# --verify accepts, and its window program shows its window on a virtual
# display. As root (CI) it is also installed with dpkg -i, read with man, run
# from /usr/bin and purged again, unless it was installed before.
#   package-test.sh
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"

failures=0
fail() { echo "package-test: FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "package-test: ok: $*"; }

tmp=$(mktemp -d)
server=
window=
installed_here=false
cleanup() {
  if [[ -n $window ]]; then kill "$window" 2>/dev/null; wait "$window" 2>/dev/null; fi
  if [[ -n $server ]]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
  if $installed_here; then dpkg --purge vud-converter >/dev/null; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

log=$tmp/build-deb.log
if ! ./tools/build-deb.sh >"$log" 2>&1; then
  cat "$log"
  echo "package-test: FAIL: tools/build-deb.sh"
  exit 1
fi
package=$root/$(tail -1 "$log")
echo "package-test: $package, $(stat -c %s "$package") bytes," \
  "installed size $(dpkg-deb -f "$package" Installed-Size) KiB"

# Lintian: warnings are reported, errors fail.
if lintian --fail-on error "$package" >"$tmp/lintian" 2>&1; then
  pass "lintian finds no error"
else
  fail "lintian"
fi
sed 's/^/  lintian: /' "$tmp/lintian"

# Unpacked into a scratch root, run from there with nothing but the files
# around the programs to go by (no search path, empty registry folders).
scratch=$tmp/root
dpkg -x "$package" "$scratch"
mkdir -p "$tmp/registry-user" "$tmp/registry-machine" "$tmp/home"
unpacked=(env -u LD_LIBRARY_PATH VUD_REGISTRY_CURRENT_USER="$tmp/registry-user"
  VUD_REGISTRY_LOCAL_MACHINE="$tmp/registry-machine" HOME="$tmp/home")
bin=$scratch/usr/bin
if appstreamcli validate --no-net --override=cid-desktopapp-is-not-rdns=info \
  "$scratch"/usr/share/metainfo/vud-converter.metainfo.xml >"$tmp/appstream" 2>&1; then
  pass "the AppStream entry is valid"
else
  cat "$tmp/appstream"
  fail "appstreamcli validate"
fi
# Two encoders: helpers that could not be started would say so on stderr.
if "${unpacked[@]}" "$bin/vudconv" -y -q -j 2 samples/voice/ "$tmp/unpacked.pac" >/dev/null 2>"$tmp/err" &&
  [[ ! -s $tmp/err ]] && "${unpacked[@]}" "$bin/vudinfo" --verify "$tmp/unpacked.pac" >/dev/null; then
  pass "the unpacked vudconv converts samples/voice/ with its helpers; vudinfo --verify accepts it"
else
  cat "$tmp/err"
  fail "the unpacked vudconv and vudinfo"
fi
# Without the private library nothing else is found, and the message names
# the folder it was looked for in.
library_dir=$(dirname "$(find "$scratch/usr/lib" -name GOGO.DLL)")
mv "$library_dir/GOGO.DLL" "$tmp/GOGO.DLL"
"${unpacked[@]}" "$bin/vudconv" --version >/dev/null 2>"$tmp/err"
code=$?
if [[ $code -eq 4 ]] && grep -qF "looked in $bin/../lib/" "$tmp/err" &&
  [[ $(realpath "$(sed -n 's/.*looked in \([^,]*\),.*/\1/p' "$tmp/err")") == "$library_dir" ]]; then
  pass "without its library vudconv exits 4 naming the library folder"
else
  cat "$tmp/err"
  fail "vudconv without its library: exit $code"
fi
mv "$tmp/GOGO.DLL" "$library_dir/GOGO.DLL"

# The window program on a virtual display: its main window appears, and a
# terminate signal closes it as the close box would.
exec {display_pipe}<> <(:)
Xvfb -displayfd "$display_pipe" -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
server=$!
read -r -u "$display_pipe" display_number
exec {display_pipe}<&-
if [[ -z $display_number ]]; then
  fail "Xvfb did not start"
else
  "${unpacked[@]}" DISPLAY=":$display_number" QT_QPA_PLATFORM=xcb \
    VUD_INSTANCE_NAME="package-test-$$" "$bin/vud-converter" >"$tmp/gui.log" 2>&1 &
  window=$!
  shown=false
  # Polls while the program runs (a bound against a hang, not a speed check).
  for ((i = 0; i < 1200; i++)); do
    if DISPLAY=":$display_number" xwininfo -root -tree 2>/dev/null |
      grep -qF "\"VUD Data Converter Ver."; then
      shown=true
      break
    fi
    kill -0 "$window" 2>/dev/null || break
    sleep 0.25
  done
  if $shown; then
    kill -TERM "$window"
    wait "$window"
    code=$?
    window=
    if [[ $code -eq 0 ]]; then
      pass "the unpacked vud-converter shows its window and closes on a terminate signal"
    else
      fail "vud-converter ended with $code after the terminate signal"
    fi
  else
    cat "$tmp/gui.log"
    fail "vud-converter showed no window"
  fi
fi

# Installed for real: root only, and only when it was not installed before.
if [[ $(id -u) -ne 0 ]]; then
  echo "package-test: not root: dpkg -i, man and /usr/bin skipped"
elif dpkg-query -W -f='${Status}' vud-converter 2>/dev/null | grep -q "ok installed"; then
  echo "package-test: vud-converter is installed already: dpkg -i, man and /usr/bin skipped"
else
  if dpkg -i "$package" >"$tmp/dpkg" 2>&1; then
    installed_here=true
    pass "dpkg -i"
    if [[ $(man -w vudconv) == /usr/share/man/man1/vudconv.1.gz ]] &&
      man -P cat vudconv 2>/dev/null | grep -q "SYNOPSIS"; then
      pass "man vudconv"
    else
      fail "man vudconv"
    fi
    if env -u LD_LIBRARY_PATH /usr/bin/vudconv -y -q -j 2 samples/voice/ "$tmp/installed.pac" \
      >/dev/null 2>"$tmp/err" && [[ ! -s $tmp/err ]] && /usr/bin/vudinfo --verify "$tmp/installed.pac" \
      >/dev/null && cmp -s "$tmp/installed.pac" "$tmp/unpacked.pac"; then
      pass "/usr/bin/vudconv makes the same archive, which vudinfo --verify accepts"
    else
      cat "$tmp/err"
      fail "/usr/bin/vudconv"
    fi
    if dpkg --purge vud-converter >"$tmp/dpkg" 2>&1 &&
      ! dpkg-query -W -f='${Status}' vud-converter 2>/dev/null | grep -q "ok installed" &&
      [[ ! -e /usr/bin/vudconv && ! -e /usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/vud-converter ]]; then
      installed_here=false
      pass "dpkg --purge leaves nothing behind"
    else
      cat "$tmp/dpkg"
      fail "dpkg --purge"
    fi
  else
    cat "$tmp/dpkg"
    fail "dpkg -i"
  fi
fi

echo "package-test: $failures failed"
((failures == 0))
