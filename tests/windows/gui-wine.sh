#!/bin/bash
# The Windows window program under Wine on a virtual display:
#   tests/windows/gui-wine.sh BUILD_DIR
# BUILD_DIR is a Windows build with the tests (vud-converter.exe, GOGO.DLL,
# win32_dialog_check.exe): x86_64, run under wine64, or i686 with
# WINEARCH=win32, run under 32-bit Wine (tests/windows/wine-run.sh). Runs twice, with a Japanese locale
# (code page 932) and an English one (code page 1252); each time:
#  - win32_dialog_check.exe: dialog 129 against the control table, the
#    backend's thread contract, and drops on the main dialog;
#  - the window "VUD Data Converter Ver.0.6" appears centred on the screen;
#  - minimised, it is shown again where it stood by a second start, which
#    opens no window and ends with 0;
#  - a run typed in through the keyboard converts samples/voice; closing the
#    window with Alt+F4 ends the program with 0;
#  - the same from a folder with a Japanese name (pasted with Ctrl+V: the
#    virtual keyboard types only what its key map holds).
# The archives are checked with the Linux vudinfo --verify when build/vudinfo
# exists, otherwise by their magic and size. The Japanese run's dialog is
# saved as BUILD_DIR/screenshot-win32.png (VUD_UPDATE_SCREENSHOT=1: also as
# docs/screenshot-win32.png).
# Needs: wine64 (wine32 for i686), Xvfb, xdotool, xwininfo (x11-utils), xclip, import
# (imagemagick), localedef (locales), Japanese fonts (fonts-ipafont-gothic).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:?usage: gui-wine.sh BUILD_DIR}" && pwd)
WINESERVER=/usr/lib/wine/wineserver
TITLE='VUD Data Converter Ver.0.6'
for program in vud-converter.exe GOGO.DLL win32_dialog_check.exe; do
    [ -f "$BUILD/$program" ] || { echo "gui-wine: $BUILD/$program missing" >&2; exit 1; }
done

TMP=$(mktemp -d /tmp/vud-gui-wine.XXXXXX)
# Every Windows program runs through wine-run.sh, in this prefix.
WINE=("$ROOT/tests/windows/wine-run.sh" "$TMP/prefix")
XVFB_PID=
cleanup() {
    WINEPREFIX=$TMP/prefix "$WINESERVER" -k 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    rm -rf "$TMP"
}
trap cleanup EXIT

fail() {
    echo "gui-wine: FAIL: $*" >&2
    import -window root "$BUILD/gui-wine-failure.png" 2>/dev/null || true
    exit 1
}

# A free display for the virtual screen.
SCREEN_WIDTH=1024
SCREEN_HEIGHT=768
for number in $(seq 90 140); do
    [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] || { DISPLAY_NUMBER=$number; break; }
done
Xvfb ":$DISPLAY_NUMBER" -screen 0 "${SCREEN_WIDTH}x${SCREEN_HEIGHT}x24" -nolisten tcp \
    >"$TMP/xvfb.log" 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"

export WINEPREFIX=$TMP/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
export LOCPATH=$TMP/locale
mkdir -p "$LOCPATH"
localedef -i ja_JP -f UTF-8 "$LOCPATH/ja_JP.UTF-8"
localedef -i en_US -f UTF-8 "$LOCPATH/en_US.UTF-8"
unset LC_ALL LANGUAGE

# The prefix: Wine draws the window frames itself (no window manager runs),
# so a window's X geometry is its Windows rectangle; the dialog's font, as
# on a Japanese Windows, is a metric-compatible Japanese font.
LANG=C.UTF-8 "${WINE[@]}" wineboot -i >/dev/null 2>&1 || fail "the Wine prefix could not be made"
LANG=C.UTF-8 "${WINE[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
LANG=C.UTF-8 "${WINE[@]}" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'ＭＳ Ｐゴシック' /d 'IPAPGothic' /f >/dev/null 2>&1

# Z: is the root of the Linux file system.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The archive at $1 is complete and valid.
check_archive() {
    [ -f "$1" ] || fail "no archive at $1"
    if [ -x "$ROOT/build/vudinfo" ]; then
        "$ROOT/build/vudinfo" --verify "$1" >"$TMP/verify.log" 2>&1 ||
            fail "vudinfo --verify rejects $1: $(tail -3 "$TMP/verify.log")"
    else
        [ "$(head -c 6 "$1")" = VUDMP3 ] || fail "$1 is no output archive"
        [ "$(stat -c %s "$1")" -gt 4096 ] || fail "$1 is too small"
    fi
}

# Waits until $1 (a command) succeeds, for at most $2 tenths of a second.
wait_for() {
    for _ in $(seq "$2"); do eval "$1" && return 0; sleep 0.1; done
    return 1
}

# Where window $1 stands and its size, as "X,Y WIDTHxHEIGHT".
window_place() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
        /Width:/ {w = $2} /Height:/ {h = $2} END {print x "," y " " w "x" h}'
}

# Starts the program from folder $1; sets PROGRAM_PID (its exit status goes
# to $TMP/exit) and WINDOW.
start_program() {
    rm -f "$TMP/exit"
    (cd "$1" && "${WINE[@]}" vud-converter.exe >"$TMP/program.log" 2>&1; echo $? >"$TMP/exit") &
    PROGRAM_PID=$!
    WINDOW=$(timeout 60 xdotool search --sync --name "^${TITLE//./\\.}\$" | head -1) ||
        fail "no window titled $TITLE"
    xdotool windowfocus --sync "$WINDOW"
    wait_for "xwininfo -id $WINDOW | grep -q IsViewable" 50 || fail "the window is not shown"
}

# Alt+F4 closes the window; the program must end with 0.
close_program() {
    xdotool windowfocus --sync "$WINDOW"
    xdotool key alt+F4
    wait_for "[ -s '$TMP/exit' ]" 600 || fail "the program did not end after Alt+F4"
    wait "$PROGRAM_PID"
    [ "$(cat "$TMP/exit")" = 0 ] || fail "the program ended with $(cat "$TMP/exit")"
}

# Fills the two fields and presses Enter: the focus starts on the start
# button, Tab goes to the source folder field, Tab again to the output
# field (selecting its default text). Paths with characters the virtual
# keyboard lacks are pasted.
enter_paths() {
    local field
    for field in "$1" "$2"; do
        xdotool key Tab
        if LC_ALL=C grep -q '[^ -~]' <<<"$field"; then
            printf '%s' "$field" | xclip -selection clipboard -i
            xdotool key ctrl+a ctrl+v
        else
            xdotool key ctrl+a
            xdotool type --delay 10 "$field"
        fi
    done
    sleep 0.3
    xdotool key Return
}

run_locale() {
    local locale=$1 code_page=$2
    export LANG=$locale
    echo "gui-wine: $locale"
    "$WINESERVER" -k 2>/dev/null || true
    (cd "$BUILD" && timeout 120 "${WINE[@]}" win32_dialog_check.exe) >"$TMP/check.log" 2>&1 ||
        fail "$locale: win32_dialog_check: $(cat "$TMP/check.log")"
    grep -q "^code page $code_page" "$TMP/check.log" ||
        fail "$locale: Wine runs $(grep '^code page' "$TMP/check.log"), not $code_page"

    local app=$TMP/app-$code_page source=$TMP/source-$code_page japanese=$TMP/音声-$code_page
    mkdir -p "$app" "$source" "$japanese"
    cp "$BUILD/vud-converter.exe" "$BUILD/GOGO.DLL" "$app/"
    cp "$ROOT"/samples/voice/z*.vud "$source/"
    cp "$ROOT"/samples/voice/z*.vud "$japanese/"

    start_program "$app"
    local place x y width height
    place=$(window_place "$WINDOW")
    read -r x y width height <<<"${place//[,x]/ }"
    [ "$x" -eq $(((SCREEN_WIDTH - width) >> 1)) ] && [ "$y" -eq $(((SCREEN_HEIGHT - height) >> 1)) ] ||
        fail "$locale: window at $place is not centred"

    # Without a window manager a minimised window is Wine's own small bar
    # elsewhere on the screen: the second start must put it back.
    (cd "$BUILD" && timeout 60 "${WINE[@]}" win32_dialog_check.exe --minimize) >"$TMP/minimize.log" 2>&1 ||
        fail "$locale: the window could not be minimised: $(cat "$TMP/minimize.log")"
    wait_for "[ \"\$(window_place $WINDOW)\" != '$place' ]" 50 ||
        fail "$locale: the minimised window still stands at $place"
    (cd "$app" && timeout 60 "${WINE[@]}" vud-converter.exe >/dev/null 2>&1) ||
        fail "$locale: the second start did not end with 0"
    wait_for "[ \"\$(window_place $WINDOW)\" = '$place' ]" 50 ||
        fail "$locale: after the second start the window stands at $(window_place "$WINDOW"), not $place"
    wait_for "xwininfo -id $WINDOW | grep -q IsViewable" 50 ||
        fail "$locale: after the second start the window is not shown"
    [ "$(xdotool search --name "^${TITLE//./\\.}\$" | wc -l)" -eq 1 ] ||
        fail "$locale: the second start opened a window"
    [ ! -s "$TMP/exit" ] || fail "$locale: the first copy ended at the second start"

    local output=$TMP/out-$code_page.pac
    enter_paths "$(windows_path "$source")\\" "$(windows_path "$output")"
    wait_for "[ -f '$output' ]" 1200 || fail "$locale: the typed run made no archive"
    check_archive "$output"
    # The run's end resets the dialog; then it shows 100%.
    sleep 1
    if [ "$code_page" = 932 ]; then
        import -window root -crop "${width}x${height}+${x}+${y}" +repage "$BUILD/screenshot-win32.png"
        if [ "${VUD_UPDATE_SCREENSHOT:-0}" = 1 ]; then
            cp "$BUILD/screenshot-win32.png" "$ROOT/docs/screenshot-win32.png"
        fi
    fi
    close_program

    start_program "$app"
    output=$japanese/vud.pac
    enter_paths "$(windows_path "$japanese")\\" "$(windows_path "$output")"
    wait_for "[ -f '$output' ]" 1200 || fail "$locale: no archive from the folder $japanese"
    check_archive "$output"
    close_program
    echo "gui-wine: $locale passed"
}

run_locale ja_JP.UTF-8 932
run_locale en_US.UTF-8 1252
echo "gui-wine: passed"
