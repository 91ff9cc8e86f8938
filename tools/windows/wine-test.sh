#!/usr/bin/env bash
# The Windows stage, under Wine, headless, in a new Wine prefix:
#   regsvr32, the VBScript check, the smoke host, the Windows tests,
#   regsvr32 /u, and no registry key of ours left behind.
#
#   tools/windows/wine-test.sh BUILD-DIR      (what ./build.sh windows made)
#
# Every step fails the run when it fails.
set -euo pipefail

build=$(cd "$1" && pwd)
bin="$build/bin"
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko prompts, no display: everything here is message-only.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
log="$build/wine-test.log"
: >"$log"

fail() {
    echo "FAILED: $*" >&2
    echo "--- last lines of $log" >&2
    tail -n 40 "$log" >&2
    WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
    exit 1
}

step() { echo "-- $*"; }

# A script passes only when cscript's last line is the verdict line: cscript
# itself may exit 0 when a script fails.
run_script() {
    local script=$1 out
    out=$(cd "$(dirname "$script")" && wine cscript //nologo "$(basename "$script")" 2>>"$log" | tr -d '\r') || true
    echo "$out" >>"$log"
    echo "$out" | tail -n 1 | grep -Eq '^check\.vbs: all [0-9]+ calls as expected$'
}

step "new Wine prefix"
rm -rf "$WINEPREFIX"
wineboot -i >>"$log" 2>&1 || fail "wineboot"

step "the verdict check itself: a failing script is caught although cscript exits 0"
cat >"$build/failing.vbs" <<'VBS'
Set oMissing = CreateObject("Brellin.NoSuchClass")
WScript.Echo "check.vbs: all 1 calls as expected (never printed: the line above ends the script)"
VBS
if run_script "$build/failing.vbs"; then fail "a failing script passed"; fi

step "regsvr32 Brellin.dll"
(cd "$bin" && wine regsvr32 /s Brellin.dll) >>"$log" 2>&1 || fail "regsvr32"

step "VBScript check (cscript)"
CALSTORE_ROOT='C:\brellin-check' run_script "$bin/check.vbs" || fail "check.vbs"
grep -E '^check\.vbs: ' "$log" | tail -n 1

step "smoke host"
(cd "$bin" && wine brellin-smoke.exe 'C:\brellin-smoke') >>"$log" 2>&1 || fail "brellin-smoke"
grep -E '^brellin-smoke: OK' "$log" >/dev/null || fail "brellin-smoke verdict"
grep -E 'WM_TIMER messages dispatched|^brellin-smoke' "$log" | tail -n 2

if [ -f "$build/x64/CTestTestfile.cmake" ] && [ -d "$build/x64/tests" ]; then
    step "Windows tests (ctest, Wine as the emulator)"
    # Wine runs one test process at a time well; several share one wineserver.
    ctest --test-dir "$build/x64" --output-on-failure -j 2 >>"$log" 2>&1 || fail "Windows tests"
    grep -E 'tests passed|tests failed' "$log" | tail -n 1
fi

step "regsvr32 /u Brellin.dll"
(cd "$bin" && wine regsvr32 /s /u Brellin.dll) >>"$log" 2>&1 || fail "regsvr32 /u"

step "no key of ours left"
wine regedit /E "$build/classes.reg" 'HKEY_CLASSES_ROOT' >>"$log" 2>&1 || fail "registry export"
left=$(iconv -f UTF-16LE -t UTF-8 "$build/classes.reg" | tr -d '\r' |
    grep -iE '^\[HKEY_CLASSES_ROOT\\(.*(FB112E41-1FD9-4F87-B320-DC9CF9282194|32BFB315-E3F6-4440-BAF1-4389487CB5E8|A4DAFD63-4696-4E2E-A78E-D9BBDC69BD40|80BF8A3C-562B-4904-9EE7-75A707F7D4A6)|Brellin)' || true)
[ -z "$left" ] || fail "keys left after unregistering: $left"

wineserver -k 2>/dev/null || true
echo "Windows under Wine: OK"
