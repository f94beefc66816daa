#!/bin/bash
# End-to-end tests of the stub under Wine: each case builds a self-extracting
# file with `qornsfx make`, runs it on a virtual display and reads what the
# windows show through qorn-probe (a Win32 console helper in the same
# prefix), then checks the files on disk and the exit status.
#
#   e2e.sh setup | cleanup | CASE
# Environment (set by suite.cmake): QORN_E2E_DIR (work folder), QORN_TOOL,
# QORN_PROBE, QORN_PATHS (qorn-paths, the console test of the Win32 path
# handling), QORN_SOURCE; QORN_E2E_STUB (the stub the SFX files are made
# with), QORN_WINE (the loader) and QORN_WINE_ARCH (win32, or win64 for the
# x86_64 build on hosts that run no 32-bit programs).
set -u -o pipefail

E2E=${QORN_E2E_DIR:?}
TOOL=${QORN_TOOL:?}
PROBE=${QORN_PROBE:?}
PATHS=${QORN_PATHS:-}
SRC=${QORN_SOURCE:?}
SHOTS=$(dirname "$E2E")/e2e-screens
STUB=${QORN_E2E_STUB:?}
RUN_STUB=${QORN_E2E_RUN_STUB:-}
SETUP_PROGRAM=${QORN_SETUP_PROGRAM:-}
WINE=${QORN_WINE:-wine}

export WINEPREFIX=$E2E/prefix HOME=$E2E/prefix.home WINEDEBUG=-all WINEARCH=${QORN_WINE_ARCH:-win32}
export WINE
export WINEDLLOVERRIDES="winemenubuilder.exe,mscoree,mshtml=d"
# Japanese Windows: code page 932 for narrow names and the boxes' texts; the
# time zone in a form the Windows C runtime understands as well.
[ -d "$E2E/locale/ja_JP.UTF-8" ] && export LOCPATH=$E2E/locale
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 TZ=JST-9
[ -f "$E2E/display" ] && export DISPLAY=$(cat "$E2E/display")

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

probe() { "$WINE" "$PROBE" "$@" 2>/dev/null | tr -d '\r'; }

# Windows path of a Linux path (Z: is /).
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

setup() {
    mkdir -p "$E2E" "$SHOTS"
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
        mkdir -p "$E2E/locale"
        localedef -i ja_JP -f UTF-8 "$E2E/locale/ja_JP.UTF-8" || fail "cannot make the ja_JP.UTF-8 locale"
        export LOCPATH=$E2E/locale
    fi
    # A display of our own.
    local n=90
    while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
    setsid Xvfb :$n -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! > "$E2E/xvfb.pid"
    echo ":$n" > "$E2E/display"
    export DISPLAY=:$n
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
    # A fresh prefix for every run: nothing left over from earlier runs.
    rm -rf "$E2E/prefix" "$E2E/prefix.home" "$E2E/cases"
    "$SRC/scripts/wine-prefix.sh" "$E2E/prefix" >/dev/null || fail "cannot make the Wine prefix"
    # One wineserver for all cases; without our pipes, or ctest waits for it.
    setsid wineserver -p5 </dev/null >/dev/null 2>&1 &
    echo "display $DISPLAY, prefix $WINEPREFIX ($WINEARCH), loader $WINE, stub $STUB"
}

cleanup() {
    wineserver -k 2>/dev/null
    [ -f "$E2E/xvfb.pid" ] && kill "$(cat "$E2E/xvfb.pid")" 2>/dev/null
    rm -f "$E2E/xvfb.pid" "$E2E/display"
    return 0
}

# A case folder, empty; the stub runs with it as its current directory.
CASE_DIR=
new_case() {
    CASE_DIR=$E2E/cases/$1
    rm -rf "$CASE_DIR"
    mkdir -p "$CASE_DIR"
    cd "$CASE_DIR" || fail "no case folder"
    # The server lingers 5 s after its last client. Should it have gone, the
    # next one must not be started by a wine inside $(...): it would keep
    # that pipe open until it exits.
    setsid wineserver -p5 </dev/null >/dev/null 2>&1 &
}

archive() { python3 "$SRC/tests/e2e/lzh0.py" "$@" || fail "cannot write the archive"; }
make_sfx() { "$TOOL" make --stub "$STUB" "$@" || fail "qornsfx make $*"; }
make_run_sfx() { "$TOOL" make --stub "$RUN_STUB" "$@" || fail "qornsfx make $*"; }

# Runs the stub (with its arguments) in the background; finish() waits for
# its exit status.
start() {
    rm -f "$CASE_DIR/.rc"
    (timeout 120 "$WINE" "$@" >"$CASE_DIR/.out" 2>&1; echo $? >"$CASE_DIR/.rc") </dev/null &
}
finish() {
    for _ in $(seq 600); do
        [ -s "$CASE_DIR/.rc" ] && { cat "$CASE_DIR/.rc"; return; }
        sleep 0.1
    done
    echo timeout
}

# Watches every top-level window of the prefix from before the stub starts
# until it has ended (call before start); watched() prints what was seen
# once the stub is over.
watch_windows() {
    rm -f "$CASE_DIR/.rc" "$CASE_DIR/.windows"
    # Straight to the file: a pipe through tr would hold the lines back.
    "$WINE" "$PROBE" windows "$(winpath "$CASE_DIR/.rc")" --timeout 90000 \
        >"$CASE_DIR/.windows" 2>/dev/null </dev/null &
    WATCHER=$!
    for _ in $(seq 100); do grep -q '^watching' "$CASE_DIR/.windows" 2>/dev/null && return; sleep 0.1; done
    kill "$WATCHER" 2>/dev/null
    fail "the window watch did not start"
}
watched() {
    wait "$WATCHER"
    tr -d '\r' <"$CASE_DIR/.windows"
}
# Nothing of the stub's may have been visible at any moment.
expect_nothing_shown() {  # WINDOWS
    if printf '%s\n' "$1" | grep -q $'\tvisible\t'; then
        printf '%s\n' "$1" >&2
        shot "$(basename "$CASE_DIR")"
        fail "a window was shown"
    fi
}

lnk_points_to() {  # LINK TARGET
    python3 - "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
t = sys.argv[2]
sys.exit(0 if t.encode("utf-16-le") in data or t.encode("cp932") in data else 1)
PY
}

shot() { import -window root "$SHOTS/$1.png" 2>/dev/null || echo "no screenshot $1" >&2; }

expect_line() {  # TEXT REGEX WHAT
    printf '%s\n' "$1" | grep -qE "$2" || { printf '%s\n' "$1" >&2; fail "$3"; }
}

# The Linux path of a path on Wine's drive C:.
unix_of() { local p=${1#[Cc]:\\}; printf '%s/drive_c/%s' "$WINEPREFIX" "${p//\\//}"; }

# The message box of the stub: class #32770 without the folder field.
read_box() {
    local dump
    dump=$(probe dump --class '#32770' --control 65535 --timeout 20000) || fail "no message box"
    printf '%s\n' "$dump"
}

case_no_settings() {
    new_case no_settings
    archive a.lzh a.txt=text:alpha 'sub/b.txt=text:bravo' '日本語.txt=text:nihongo'
    make_sfx -o sfx.exe --no-settings a.lzh
    mkdir run && cd run || fail
    start ../sfx.exe
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ "$(cat a.txt)" = alpha ] && [ "$(cat sub/b.txt)" = bravo ] && [ "$(cat 日本語.txt)" = nihongo ] ||
        fail "members not extracted into the current directory: $(find . | tr '\n' ' ')"
}

case_settings_ok() {
    new_case settings_ok
    archive a.lzh readme.txt=text:read-me 'bin/tool.exe=text:MZ-not-really'
    make_sfx -o sfx.exe --title 'テスト展開' --destination 'proposed\dest' --main-file 'bin\tool.exe' \
        --start-menu 3 --desktop 2 --send-to 1 --open readme.txt --link-name QornDemo a.lzh
    start sfx.exe
    local dump
    dump=$(probe dump --class '#32770' --control 1000 --timeout 20000) || fail "no dialog"
    local w=$(winpath "$CASE_DIR")
    expect_line "$dump" $'^0\t#32770\t.*\tテスト展開$' "dialog title"
    expect_line "$dump" "^1000	Edit	.*	$(printf '%s' "$w\\proposed\\dest" | sed 's/[\\.]/\\&/g')\$" "proposed destination"
    expect_line "$dump" $'^1002\tButton\tvisible,enabled,checked\t' "start menu box: 0x03"
    expect_line "$dump" $'^1003\tButton\tvisible,disabled,checked\t' "desktop box: 0x02"
    expect_line "$dump" $'^1004\tButton\tvisible,enabled\t' "send-to box: 0x01"
    shot dialog
    probe check --control 1000 1004 1
    probe settext --control 1000 1000 "$w\\x\\y\\z"
    probe click --control 1000 1
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ "$(cat x/y/z/readme.txt)" = read-me ] && [ -f x/y/z/bin/tool.exe ] || fail "not extracted into x/y/z"
    [ ! -e proposed ] || fail "the proposed folder was made too"
    local c=$WINEPREFIX/drive_c user=$(id -un) target="$w\\x\\y\\z\\bin\\tool.exe"
    for link in "$c/ProgramData/Microsoft/Windows/Start Menu/Programs/QornDemo.lnk" \
        "$c/users/Public/Desktop/QornDemo.lnk" \
        "$c/users/$user/AppData/Roaming/Microsoft/Windows/SendTo/QornDemo.lnk"; do
        [ -f "$link" ] || fail "no shortcut $link"
        python3 - "$link" "$target" <<'PY' || fail "shortcut $link does not point to $target"
import sys
data = open(sys.argv[1], "rb").read()
t = sys.argv[2]
sys.exit(0 if t.encode("utf-16-le") in data or t.encode("cp932") in data else 1)
PY
    done
    for _ in $(seq 50); do [ -s "$c/qorn/opened.log" ] && break; sleep 0.2; done
    grep -q 'x\\y\\z\\readme.txt' "$c/qorn/opened.log" 2>/dev/null || fail "readme.txt was not opened"
}

case_cancel() {
    new_case cancel
    archive a.lzh a.txt=text:alpha
    make_sfx -o sfx.exe --program-files --destination 'Qorn Test' --main-file a.txt \
        --start-menu 0 --desktop 1 --send-to 2 a.lzh
    start sfx.exe
    local dump
    dump=$(probe dump --class '#32770' --control 1000 --timeout 20000) || fail "no dialog"
    expect_line "$dump" $'^0\t#32770\t.*\tQorn SFX$' "empty title reads Qorn SFX"
    expect_line "$dump" $'^1000\tEdit\t.*\tC:\\\\Program Files\\\\Qorn Test$' "destination under Program Files"
    expect_line "$dump" $'^1002\tButton\tvisible,disabled\t' "start menu box: 0x00"
    expect_line "$dump" $'^1003\tButton\tvisible,enabled\t' "desktop box: 0x01"
    expect_line "$dump" $'^1004\tButton\tvisible,disabled,checked\t' "send-to box: 0x02"
    probe click --control 1000 2
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ ! -e "$WINEPREFIX/drive_c/Program Files/Qorn Test" ] && [ ! -e a.txt ] || fail "cancel extracted something"
}

case_relative_folder() {
    new_case relative_folder
    archive a.lzh a.txt=text:alpha
    # No link name: the shortcut is named after the main file.
    make_sfx -o sfx.exe --main-file 'a.txt' --send-to 2 a.lzh
    start sfx.exe
    probe find --class '#32770' --control 1000 --timeout 20000 >/dev/null || fail "no dialog"
    probe settext --control 1000 1000 'rel1\rel2'
    probe click --control 1000 1
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ -f rel1/rel2/a.txt ] && [ ! -e rel1/rel2/rel1 ] || fail "typed relative folder nested: $(find . -name a.txt)"
    # The shortcut's target is absolute, not the relative text typed.
    local link="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/SendTo/a.lnk"
    [ -f "$link" ] || fail "no shortcut a.lnk"
    python3 - "$link" "$(winpath "$CASE_DIR")\rel1\rel2\a.txt" <<'PY' || fail "a.lnk has the wrong target"
import sys
data = open(sys.argv[1], "rb").read()
t = sys.argv[2]
sys.exit(0 if t.encode("utf-16-le") in data or t.encode("cp932") in data else 1)
PY
}

case_damaged() {
    new_case damaged
    local long=a-folder-name-far-too-wide-for-the-status-label/and-one-more-level
    archive a.lzh a.txt=text:alpha "$long/b.txt=text:bravo-bravo" c.txt=text:charlie --damage "$long/b.txt"
    make_sfx -o sfx.exe --no-settings --force a.lzh 2>/dev/null
    start sfx.exe
    local box
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\tファイル '"$long"$'.b\\.txt が壊れています。$' "damaged-file text"
    local window
    window=$(probe dump --class QORNSFXCLASS --timeout 2000) || fail "no progress window"
    expect_line "$window" $'^0\tQORNSFXCLASS\t.*\tQorn SFX$' "progress window title without settings"
    # The member's path, shortened with an ellipsis to the label's width.
    expect_line "$window" $'^0\tStatic\t.*\ta-folder.*\\.\\.\\..*b\\.txt$' "shortened status"
    shot warning
    probe click --control 65535 1
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ -f a.txt ] || fail "the member before the damaged one is missing"
    [ ! -e c.txt ] || fail "a member after the damaged one was extracted"
}

case_unknown_header() {
    new_case unknown_header
    archive a.lzh a.txt=text:alpha --junk --no-end
    make_sfx -o sfx.exe --no-settings --force a.lzh 2>/dev/null
    start sfx.exe
    local box
    box=$(read_box)
    expect_line "$box" $'^0\t#32770\t.*\tQorn SFX$' "caption"
    expect_line "$box" $'^65535\tStatic\t.*\tUnknown header$' "text"
    probe click --control 65535 1
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ -f a.txt ] || fail "a.txt missing"
}

case_abort() {
    new_case abort
    archive a.lzh a.txt=text:alpha big.bin=zeros:400000000
    make_sfx -o sfx.exe --no-settings a.lzh
    rm a.lzh
    mkdir run && cd run || fail
    start ../sfx.exe
    local window
    window=$(probe dump --class QORNSFXCLASS --timeout 20000) || fail "no progress window"
    # The window goes 128 pixels left of the pointer and 32 below it. (Wine
    # puts the pointer back in the middle of the screen when a program
    # starts, so the test reads where it is rather than moving it.)
    local x y
    eval "$(xdotool getmouselocation --shell | grep -E '^[XY]=')"
    x=$X y=$Y
    expect_line "$window" $'^0\tQORNSFXCLASS\tvisible,enabled\t'"$((x - 128)),$((y + 32))"$',256,114\tQorn SFX$' "title and place"
    expect_line "$window" $'^1017\tButton\tvisible,enabled\t.*\t中止$' "abort button"
    shot progress
    # The bar keeps its default range; the worker moves it in percent.
    local bar
    bar=$(probe progress --class QORNSFXCLASS) || fail "no progress bar"
    expect_line "$bar" '^[0-9]+ 0 100$' "progress range"
    probe click --class QORNSFXCLASS 1017
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ -f a.txt ] || fail "the completed member was deleted"
    [ ! -e big.bin ] || fail "the aborted member is still there ($(stat -c %s big.bin) bytes)"
    rm -f ../sfx.exe
}

# Closing the window while a member is written: once the user says so, as
# with the abort button, the window waits for the worker to stop and the
# half-written file goes.
case_close_during_run() {
    new_case close_during_run
    archive a.lzh a.txt=text:alpha big.bin=zeros:400000000
    make_sfx -o sfx.exe --no-settings a.lzh
    rm a.lzh
    mkdir run && cd run || fail
    start ../sfx.exe
    probe find --class QORNSFXCLASS --timeout 20000 >/dev/null || fail "no progress window"
    probe close --class QORNSFXCLASS
    local box rc
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\t解凍を中止しますか？$' "the question"
    probe click --control 65535 6
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ -f a.txt ] || fail "the completed member was deleted"
    [ ! -e big.bin ] || fail "the half-written member is still there ($(stat -c %s big.bin) bytes)"
    rm -f ../sfx.exe
}

case_cannot_create() {
    new_case cannot_create
    archive a.lzh a.txt=text:alpha
    echo file > blocker
    make_sfx -o sfx.exe --destination 'blocker\sub' a.lzh
    start sfx.exe
    probe find --class '#32770' --control 1000 --timeout 20000 >/dev/null || fail "no dialog"
    probe click --control 1000 1
    local box
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\tフォルダを作成できません$' "text"
    probe click --control 65535 1
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ ! -e a.txt ] && [ -f blocker ] || fail "something was extracted"
}

case_settings_cut_short() {
    new_case settings_cut_short
    archive a.lzh a.txt=text:alpha
    make_sfx -o full.exe --title 'abcdef' a.lzh
    head -c $((45056 + 4)) full.exe > sfx.exe
    start sfx.exe
    # Neither a box nor the progress window: a box would also hold the
    # process until someone closed it.
    local class
    for class in '#32770' QORNSFXCLASS; do
        if probe find --class "$class" --timeout 3000 >/dev/null; then
            shot settings-cut-short
            fail "a window of class $class was shown"
        fi
    done
    local rc
    rc=$(finish)
    [ "$rc" != 0 ] && [ "$rc" != timeout ] || fail "exit status $rc"
    [ ! -e a.txt ] || fail "something was extracted"
}

# An SFX made straight from a folder: the tree comes back byte for byte, with
# its empty folder, a Japanese name (cp932 here) and the files' times.
case_from_folder() {
    new_case from_folder
    local t=src/tree
    mkdir -p "$t/data/empty" "$t/日本語" || fail
    python3 - "$t" <<'PY' || fail "cannot write the tree"
import random, sys
root = sys.argv[1]
r = random.Random(7)
text = "".join("line %d of a text that repeats with small changes\n" % (i % 97) for i in range(20000))
open(root + "/readme.txt", "w").write(text)
open(root + "/data/noise.bin", "wb").write(bytes(r.getrandbits(8) for _ in range(70000)))
open(root + "/data/mixed.bin", "wb").write(bytes(r.choice(b"abc\0") for _ in range(300000)))
open(root + "/日本語/メモ.txt", "w", encoding="utf-8").write("メモ\n")
open(root + "/zero.txt", "w").close()
PY
    touch -d '2001-02-03 04:05:06 UTC' "$t/readme.txt" "$t/日本語/メモ.txt"
    make_sfx -o sfx.exe --no-settings "$t"
    mkdir run && cd run || fail
    start ../sfx.exe
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    diff -r ../src/tree tree >&2 || fail "the extracted tree differs from the folder"
    [ -d tree/data/empty ] || fail "the empty folder is missing"
    local f
    for f in readme.txt 日本語/メモ.txt data/mixed.bin; do
        [ "$(stat -c %Y "tree/$f")" = "$(stat -c %Y "../src/tree/$f")" ] || fail "time of $f"
    done
}

# A folder packed by make has folder members only for empty folders: run
# twice into one destination, the second run meets no folder member whose
# folder exists, so no box asks about one, and the files are replaced.
case_folder_twice() {
    new_case folder_twice
    local t=src/tree
    mkdir -p "$t/bin/sub" "$t/docs/日本語" || fail
    echo one >"$t/bin/tool.txt"
    echo two >"$t/bin/sub/deep.txt"
    echo three >"$t/docs/日本語/メモ.txt"
    make_sfx -o sfx.exe --no-settings "$t" >make.txt
    expect_line "$(cat make.txt)" '^sfx\.exe: 3 members, 14 bytes in, [0-9]+ bytes out' "make's summary"
    ! "$TOOL" list sfx.exe | grep -q -- '^-lhd-' || fail "a folder member for a folder that holds files"
    mkdir run && cd run || fail
    local n rc seen
    for n in 1 2; do
        watch_windows
        start ../sfx.exe
        rc=$(finish)
        seen=$(watched)
        if printf '%s\n' "$seen" | grep -q $'^#32770\tvisible'; then
            printf '%s\n' "$seen" >&2
            shot "folder_twice-run$n"
            fail "run $n showed a box"
        fi
        # A box waits for a click: the run would not have ended by itself.
        [ "$rc" = 0 ] || fail "run $n: exit status $rc"
        diff -r ../src/tree tree >&2 || fail "run $n extracted a different tree"
    done
}

# /S: nothing on the screen at any moment, the destination the dialog would
# have proposed, the shortcuts its check boxes start with, nothing opened.
case_silent() {
    new_case silent
    archive a.lzh readme.txt=text:silent-read-me 'bin/tool.exe=text:MZ' big.bin=zeros:150000000
    make_sfx -o sfx.exe --title 'サイレント' --destination 'silent dest' --main-file 'bin\tool.exe' \
        --start-menu 3 --desktop 1 --send-to 2 --open readme.txt --link-name QornSilent a.lzh
    rm a.lzh
    watch_windows
    start sfx.exe /S
    local rc seen
    rc=$(finish)
    seen=$(watched)
    expect_nothing_shown "$seen"
    # The hidden progress window proves that the watch saw the run.
    expect_line "$seen" $'^QORNSFXCLASS\thidden\t' "the stub's window was never seen"
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ "$(cat 'silent dest/readme.txt')" = silent-read-me ] && [ -f 'silent dest/bin/tool.exe' ] &&
        [ "$(stat -c %s 'silent dest/big.bin')" = 150000000 ] || fail "not extracted into the proposed folder"
    local c=$WINEPREFIX/drive_c user=$(id -un) target
    target="$(winpath "$CASE_DIR")\silent dest\bin\tool.exe"
    local start_menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/QornSilent.lnk"
    local send_to="$c/users/$user/AppData/Roaming/Microsoft/Windows/SendTo/QornSilent.lnk"
    for link in "$start_menu" "$send_to"; do
        [ -f "$link" ] || fail "no shortcut $link"
        lnk_points_to "$link" "$target" || fail "shortcut $link does not point to $target"
    done
    [ ! -e "$c/users/Public/Desktop/QornSilent.lnk" ] || fail "a desktop shortcut the box did not ask for"
    # The shell would log the open within moments of the stub's end.
    sleep 2
    ! grep -q 'silent dest' "$c/qorn/opened.log" 2>/dev/null || fail "readme.txt was opened"
    rm -f sfx.exe 'silent dest/big.bin'
}

# /D= takes the rest of the line, blanks included, with no quotes around it.
case_silent_destination() {
    new_case silent_destination
    archive a.lzh a.txt=text:alpha 'sub/b.txt=text:bravo'
    make_sfx -o sfx.exe --destination 'proposed' a.lzh
    local dest="$WINEPREFIX/drive_c/x y/z"
    rm -rf "$WINEPREFIX/drive_c/x y"
    watch_windows
    # Two arguments to wine: the line reads /S /D=C:\x y\z, unquoted.
    start sfx.exe /S '/D=C:\x' 'y\z'
    local rc
    rc=$(finish)
    expect_nothing_shown "$(watched)"
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ "$(cat "$dest/a.txt")" = alpha ] && [ "$(cat "$dest/sub/b.txt")" = bravo ] ||
        fail "not extracted into C:\x y\z"
    [ ! -e proposed ] || fail "the proposed folder was made too"
    rm -rf "$WINEPREFIX/drive_c/x y"
}

# Without /S, /D= is what the dialog proposes; a relative one is taken
# against the directory the file was started in.
case_destination_in_dialog() {
    new_case destination_in_dialog
    archive a.lzh a.txt=text:alpha
    make_sfx -o sfx.exe --destination 'proposed' a.lzh
    # One argument with a blank: wine quotes it, as a launcher would.
    start sfx.exe '/d=rel dir\sub'
    local dump
    dump=$(probe dump --class '#32770' --control 1000 --timeout 20000) || fail "no dialog"
    local w=$(winpath "$CASE_DIR")
    expect_line "$dump" "^1000	Edit	.*	$(printf '%s' "$w\\rel dir\\sub" | sed 's/[\\.]/\\&/g')\$" "field"
    probe click --control 1000 1
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ "$(cat 'rel dir/sub/a.txt')" = alpha ] || fail "not extracted into rel dir/sub"
    [ ! -e proposed ] || fail "the proposed folder was made too"
}

case_silent_damaged() {
    new_case silent_damaged
    archive a.lzh a.txt=text:alpha b.txt=text:bravo c.txt=text:charlie --damage b.txt
    make_sfx -o sfx.exe --no-settings --force a.lzh 2>/dev/null
    watch_windows
    start sfx.exe /s
    local rc
    rc=$(finish)
    expect_nothing_shown "$(watched)"
    [ "$rc" = 3 ] || fail "exit status $rc"
    [ -f a.txt ] || fail "the member before the damaged one is missing"
    [ ! -e c.txt ] || fail "a member after the damaged one was extracted"
}

case_silent_cannot_create() {
    new_case silent_cannot_create
    archive a.lzh a.txt=text:alpha
    echo file > blocker
    make_sfx -o sfx.exe --destination 'blocker\sub' a.lzh
    watch_windows
    start sfx.exe /S
    local rc
    rc=$(finish)
    expect_nothing_shown "$(watched)"
    [ "$rc" = 4 ] || fail "exit status $rc"
    [ ! -e a.txt ] && [ -f blocker ] || fail "something was extracted"
}

# /? shows the usage and ends with 0; an unknown switch shows it too, ends
# with 2 and extracts nothing (no dialog either).
case_usage() {
    new_case usage
    archive a.lzh a.txt=text:alpha
    make_sfx -o sfx.exe --no-settings a.lzh
    local box rc
    start sfx.exe '/?'
    box=$(read_box)
    expect_line "$box" $'^0\t#32770\t.*\tQorn SFX$' "caption"
    expect_line "$box" $'^65535\tStatic\t.*\t使い方: \\[/S\\] \\[/D=解凍先フォルダ\\]$' "usage text"
    expect_line "$box" $'^/S\t' "the /S line"
    expect_line "$box" '7 ' "the status of a failed shortcut"
    shot "usage"
    probe click --control 65535 1
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc for /?"
    [ ! -e a.txt ] || fail "/? extracted something"
    # An empty /D= (a script's unset variable) stops a silent run.
    start sfx.exe /S /D=
    rc=$(finish)
    [ "$rc" = 2 ] || fail "exit status $rc for /S /D="
    [ ! -e a.txt ] || fail "/S /D= extracted something"
}

# Whatever is not a switch is passed over: the run is the one without
# arguments (status 0, no box), for another installer's switches, a file
# dropped on the program and the command line CreateProcessW(path, NULL)
# makes of a path with blanks.
case_arguments_passed_over() {
    new_case arguments_passed_over
    archive a.lzh a.txt=text:alpha 'sub/b.txt=text:bravo'
    make_sfx -o sfx.exe --no-settings a.lzh
    local arg rc seen
    for arg in -S /silent /q "$(winpath "$CASE_DIR/dropped file.txt")"; do
        rm -rf a.txt sub
        watch_windows
        start sfx.exe "$arg"
        rc=$(finish)
        seen=$(watched)
        [ "$rc" = 0 ] || fail "exit status $rc for $arg"
        [ "$(cat a.txt)" = alpha ] && [ "$(cat sub/b.txt)" = bravo ] || fail "$arg: not extracted"
        ! grep -q '^#32770' <<<"$seen" || fail "$arg: a box was shown"
    done
    rm -rf a.txt sub
    mkdir -p 'a folder with blanks' && cp sfx.exe 'a folder with blanks/my setup.exe'
    local out
    out=$(probe launch --timeout 60000 "$(winpath "$CASE_DIR/a folder with blanks/my setup.exe")")
    expect_line "$out" '^exit 0$' "unquoted path with blanks: $out"
    [ "$(cat a.txt)" = alpha ] || fail "unquoted path with blanks: not extracted"
    # With the dialog: -S alone shows it, as a run without arguments does.
    make_sfx -o dialog.exe --title 'ダイアログ' --destination 'dest' a.lzh
    start dialog.exe -S
    probe find --class '#32770' --control 1000 --timeout 20000 >/dev/null || fail "-S: no dialog"
    shot "arguments-passed-over-dialog"
    probe click --control 1000 2
    rc=$(finish)
    [ "$rc" = 0 ] || fail "-S, cancelled: exit status $rc"
}

# The execution level is the maker's: an asInvoker SFX started by an
# administrator runs unelevated and makes its shortcuts in the user's own
# Start menu and desktop. Wine elevates every process whatever its manifest
# asks, so the SFX gets the token Windows gives such a process. A shortcut
# that cannot be made is told: a box without switches, status 7 with them.
case_privilege_shortcuts() {
    new_case privilege_shortcuts
    archive a.lzh 'bin/tool.exe=text:MZ'
    make_sfx -o invoker.exe --execution-level asInvoker --destination dest --main-file 'bin\tool.exe' \
        --start-menu 3 --desktop 3 --link-name QornInvoker a.lzh
    local c=$WINEPREFIX/drive_c user rc box out
    user=$(id -un)
    out=$(probe launch-limited --timeout 60000 "$(winpath "$CASE_DIR/invoker.exe")" '"invoker.exe" /S')
    expect_line "$out" '^exit 0$' "asInvoker: $out"
    local own="$c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/QornInvoker.lnk"
    [ -f "$own" ] || fail "asInvoker: no shortcut in the user's Start menu"
    [ -f "$c/users/$user/Desktop/QornInvoker.lnk" ] || fail "asInvoker: no shortcut on the user's desktop"
    [ ! -e "$c/ProgramData/Microsoft/Windows/Start Menu/Programs/QornInvoker.lnk" ] &&
        [ ! -e "$c/users/Public/Desktop/QornInvoker.lnk" ] || fail "asInvoker: an all-users shortcut"
    lnk_points_to "$own" "$(winpath "$CASE_DIR")\dest\bin\tool.exe" || fail "asInvoker: wrong target"

    make_sfx -o badlink.exe --destination dest2 --main-file 'bin\tool.exe' --start-menu 3 \
        --link-name 'bad*name' a.lzh
    start badlink.exe /S
    rc=$(finish)
    [ "$rc" = 7 ] || fail "a shortcut that cannot be made: exit status $rc, not 7"
    [ -f dest2/bin/tool.exe ] || fail "the members were not extracted"
    start badlink.exe
    probe find --class '#32770' --control 1000 --timeout 20000 >/dev/null || fail "no dialog"
    probe click --control 1000 1
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*bad\\*name\\.lnk' "the box names the shortcut"
    shot "shortcut-failed"
    probe click --control 65535 1
    rc=$(finish)
    [ "$rc" = 0 ] || fail "without switches: exit status $rc"
}

# The system's DPI, set for the prefix; the wineserver starts anew to read it.
set_dpi() {  # DPI
    "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        >/dev/null 2>&1 || fail "cannot set the DPI"
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    setsid wineserver -p5 </dev/null >/dev/null 2>&1 &
}

# Every child of a window lies inside its window (screen rectangles, as
# probe dump prints them).
expect_inside() {  # DUMP WHAT
    printf '%s\n' "$1" | awk -F'\t' -v what="$2" '
        NR == 1 { split($4, w, ","); next }
        NF >= 4 { split($4, c, ",");
                  if (c[1] < w[1] || c[2] < w[2] || c[1] + c[3] > w[1] + w[3] || c[2] + c[4] > w[2] + w[4]) {
                      print what ": " $2 " " $5 " at " $4 " leaves the window at " w[1] "," w[2] "," w[3] "," w[4] > "/dev/stderr"; bad = 1 } }
        END { exit bad }' || fail "$2: a control is cut off"
}

# At 144 and 192 DPI the dialog and the progress window grow with the font:
# no control leaves its window. Escape and Alt+F4 during a run ask whether
# to stop; No lets the run go on.
case_dpi_keyboard() {
    new_case dpi_keyboard
    mkdir -p tree/QornBig && truncate -s 2000000000 tree/QornBig/big.bin && echo alpha > tree/QornBig/a.txt
    make_sfx -o sfx.exe --title 'Qorn SFX' --destination dest tree/QornBig >/dev/null
    rm -rf tree
    local dpi dialog window rc box
    for dpi in 144 192; do
        set_dpi "$dpi"
        start sfx.exe "/D=dest-$dpi"
        dialog=$(probe dump --class '#32770' --control 1000 --timeout 20000) || fail "$dpi dpi: no dialog"
        expect_inside "$dialog" "$dpi dpi dialog"
        shot "dialog-$dpi-dpi"
        probe click --control 1000 1
        window=$(probe dump --class QORNSFXCLASS --timeout 20000) || fail "$dpi dpi: no progress window"
        expect_line "$window" $'^0\tQORNSFXCLASS\tvisible,enabled\t-?[0-9]+,-?[0-9]+,'"$((256 * dpi / 96)),$((114 * dpi / 96))"$'\t' \
            "$dpi dpi: the window's size"
        expect_inside "$window" "$dpi dpi progress window"
        shot "progress-$dpi-dpi"
        probe click --class QORNSFXCLASS 1017
        rc=$(finish)
        [ "$rc" = 6 ] || fail "$dpi dpi: exit status $rc, not 6 (aborted)"
        rm -rf "dest-$dpi"
    done
    set_dpi 96

    start sfx.exe /D=dest-keys
    probe find --class '#32770' --control 1000 --timeout 20000 >/dev/null || fail "no dialog"
    probe click --control 1000 1
    probe find --class QORNSFXCLASS --timeout 20000 >/dev/null || fail "no progress window"
    local x
    x=$(timeout 20 xdotool search --sync --name '^Qorn SFX$') || fail "no X window for the progress window"
    xdotool windowfocus --sync "$x" key Escape
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\t解凍を中止しますか？$' "Escape: the question"
    expect_line "$box" $'^0\t#32770\t.*\tQorn SFX$' "Escape: the question's title"
    shot "ask-abort"
    probe click --control 65535 7
    probe find --class QORNSFXCLASS --timeout 5000 >/dev/null || fail "No: the run did not go on"
    [ ! -s .rc ] || fail "No: the run ended"
    xdotool windowfocus --sync "$x" key alt+F4
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\t解凍を中止しますか？$' "Alt+F4: the question"
    probe click --control 65535 6
    rc=$(finish)
    [ "$rc" = 6 ] || fail "keys: exit status $rc, not 6 (aborted)"
    [ -f dest-keys/QornBig/a.txt ] || [ ! -e dest-keys/QornBig/big.bin ] ||
        fail "Alt+F4, Yes: the run was not stopped"
    rm -rf dest-keys sfx.exe
}

# make --language en: every text the recipient sees is English, the dialog's
# labels whole with mnemonics of their own; the progress window, the
# question, a damaged member's box and the usage box too. German and
# French: the dialog, the progress window and the question.
# Installer mode: the program (qorn-setup) writes its command line and its
# working folder to the file its first argument names, outside the
# temporary folder, and exits with its second argument (7 by default).
case_installer() {
    new_case installer
    local rc line folder temp box report=$(winpath "$CASE_DIR/report.txt")
    mkdir -p tree/Setup/data
    cp "$SETUP_PROGRAM" tree/Setup/setup.exe
    echo hello >tree/Setup/data/readme.txt
    make_run_sfx -o inst.exe --title 'Qorn Setup' --run "setup\\SETUP.exe \"$report\"" tree/Setup >/dev/null
    start inst.exe
    rc=$(finish)
    [ "$rc" = 7 ] || fail "exit status $rc, not the program's 7"
    [ -f report.txt ] || fail "the program did not run"
    line=$(sed -n 1p report.txt | tr -d '\r')
    folder=$(sed -n 2p report.txt | tr -d '\r')
    expect_line "$folder" '\\qsf[0-9A-Fa-f]+\.tmp$' "the working folder: a temporary one of its own"
    expect_line "$line" '\\qsf[0-9A-Fa-f]+\.tmp\\Setup\\setup\.exe"? "Z:[^"]*report\.txt"$' "the program and its arguments"
    temp=$(unix_of "$folder")
    [ -d "$(dirname "$temp")" ] || fail "no temporary folder $(dirname "$temp")"
    [ ! -e "$temp" ] || fail "the temporary folder is left: $folder"

    # Silent: no window; the switches go to the program, quotes and all.
    rm -f report.txt
    watch_windows
    start inst.exe /S '/D=C:\x y'
    rc=$(finish)
    # The program's console is the program's own.
    line=$(watched)
    expect_nothing_shown "$(printf '%s\n' "$line" | grep -v $'^WineConsoleClass\t')"
    [ "$rc" = 7 ] || fail "/S: exit status $rc"
    line=$(sed -n 1p report.txt | tr -d '\r')
    expect_line "$line" 'report\.txt" /S "/D=C:\\x y"$' "/S: the switches passed on"
    [ ! -e "$(unix_of "$(sed -n 2p report.txt | tr -d '\r')")" ] || fail "/S: the temporary folder is left"

    # Status 0 passes on as 0; a program that keeps a file open delays the
    # removal only while it runs.
    rm -f report.txt
    make_run_sfx -o zero.exe --run "Setup/setup.exe \"$report\" 0" tree/Setup >/dev/null
    start zero.exe /S
    rc=$(finish)
    [ "$rc" = 0 ] || fail "status 0: exit status $rc"
    [ ! -e "$(unix_of "$(sed -n 2p report.txt | tr -d '\r')")" ] || fail "status 0: the folder is left"

    # A file still held open by what the program started, past the retries:
    # status 8 (the program's 0 would hide it), the folder left.
    rm -f report.txt
    make_run_sfx -o linger.exe --run "Setup/setup.exe \"$report\" 0 linger" tree/Setup >/dev/null
    start linger.exe /S
    rc=$(finish)
    [ "$rc" = 8 ] || fail "a file held open: exit status $rc, not 8"
    folder=$(unix_of "$(sed -n 2p report.txt | tr -d '\r')")
    [ -f "$folder/Setup/data/readme.txt" ] && [ -f "$folder/Setup/setup.exe" ] || fail "a file held open: the folder is not there"
    sleep 9
    rm -rf "$folder"

    # Damage: the box, status 3, nothing run, the folder gone.
    rm -f report.txt
    ls "$(dirname "$temp")" | grep -i '^qsf' && fail "a temporary folder of an earlier run is left"
    archive a.lzh setup.exe=file:"$SETUP_PROGRAM" b.txt=text:bravo --damage b.txt
    make_run_sfx -o damaged.exe --force --run "setup.exe \"$report\"" a.lzh 2>/dev/null
    start damaged.exe
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\tファイル b\\.txt が壊れています。$' "the damaged-file box"
    shot installer-damaged
    probe click --control 65535 1
    rc=$(finish)
    [ "$rc" = 3 ] || fail "damaged: exit status $rc"
    [ ! -e report.txt ] || fail "damaged: the program ran"
    ! ls "$(dirname "$temp")" | grep -i '^qsf' || fail "damaged: the temporary folder is left"

    # What make refuses: a program that is no member, settings with no use.
    local out
    out=$("$TOOL" make --stub "$RUN_STUB" -o bad.exe --run 'nope.exe /x' tree/Setup 2>&1)
    rc=$?
    [ "$rc" = 1 ] && [ ! -e bad.exe ] || fail "a missing program: status $rc"
    expect_line "$out" 'nope\.exe is not a file of the archive' "the missing program named"
    out=$("$TOOL" make --stub "$RUN_STUB" -o bad.exe --run 'Setup\setup.exe' --destination D tree/Setup 2>&1)
    rc=$?
    [ "$rc" = 2 ] && [ ! -e bad.exe ] || fail "--run with --destination: status $rc"
}

case_english() {
    new_case english
    archive a.lzh a.txt=text:alpha 'sub/b.txt=text:bravo' c.txt=text:charlie --damage 'sub/b.txt'
    make_sfx -o damaged.exe --language en --no-settings --force a.lzh 2>/dev/null
    archive a.lzh a.txt=text:alpha
    make_sfx -o usage.exe --language en --no-settings a.lzh
    mkdir -p tree/QornBig && truncate -s 2000000000 tree/QornBig/big.bin
    make_sfx -o sfx.exe --language en --title 'Qorn SFX' --destination dest --main-file 'QornBig\big.bin' \
        --start-menu 1 --desktop 1 --send-to 1 tree/QornBig >/dev/null
    rm -rf tree
    local dialog window box rc out
    start sfx.exe
    dialog=$(probe dump --class '#32770' --control 1000 --timeout 20000) || fail "no dialog"
    expect_line "$dialog" $'^-1\tStatic\t.*\tExtract to &folder:$' "the folder label"
    expect_line "$dialog" $'^1001\tButton\t.*\t&Browse\\.\\.\\.$' "the browse button"
    expect_line "$dialog" $'^1002\tButton\t.*\tAdd to the &Start menu$' "the Start menu box"
    expect_line "$dialog" $'^1003\tButton\t.*\tCreate a &desktop shortcut$' "the desktop box"
    expect_line "$dialog" $'^1004\tButton\t.*\tAdd to Send &To$' "the Send To box"
    expect_line "$dialog" $'^2\tButton\t.*\tCancel$' "the cancel button"
    expect_inside "$dialog" "English dialog"
    out=$(probe fits --class '#32770' --control 1000)
    expect_line "$out" '^every text fits$' "English dialog: a text is cut"
    shot "english-dialog"
    probe click --control 1000 1
    window=$(probe dump --class QORNSFXCLASS --timeout 20000) || fail "no progress window"
    expect_line "$window" $'^1017\tButton\t.*\tCancel$' "the abort button"
    out=$(probe fits --class QORNSFXCLASS)
    expect_line "$out" '^every text fits$' "English progress window: a text is cut"
    shot "english-progress"
    probe close --class QORNSFXCLASS
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\tStop extracting\\?$' "the question"
    shot "english-question"
    probe click --control 65535 6
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"

    start damaged.exe
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\tThe file sub.b\\.txt is damaged\\.$' "the damaged-file box"
    shot "english-damaged"
    probe click --control 65535 1
    rc=$(finish)
    [ "$rc" = 0 ] || fail "damaged: exit status $rc"

    start usage.exe '/?'
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\tUsage: \\[/S\\] \\[/D=folder\\]$' "the usage box"
    shot "english-usage"
    probe click --control 65535 1
    rc=$(finish)
    [ "$rc" = 0 ] || fail "usage: exit status $rc"

    # The other languages: their dialog and progress window, every text
    # whole, and the question.
    local lang label abort question
    for lang in de fr; do
        case $lang in
        de) label='&Zielordner:' abort=Abbrechen question='Entpacken abbrechen\?' ;;
        fr) label=$'&Dossier de destination\u00a0:' abort=Annuler question=$'Arrêter l’extraction\u00a0\\?' ;;
        esac
        mkdir -p tree/QornBig && truncate -s 2000000000 tree/QornBig/big.bin
        make_sfx -o "$lang.exe" --language "$lang" --destination "dest-$lang" --main-file 'QornBig\big.bin' \
            --start-menu 1 --desktop 1 --send-to 1 tree/QornBig >/dev/null
        rm -rf tree
        start "$lang.exe"
        dialog=$(probe dump --class '#32770' --control 1000 --timeout 20000) || fail "$lang: no dialog"
        expect_line "$dialog" $'^-1\tStatic\t.*\t'"$label"'$' "$lang: the folder label"
        out=$(probe fits --class '#32770' --control 1000)
        expect_line "$out" '^every text fits$' "$lang dialog: a text is cut"
        shot "$lang-dialog"
        probe click --control 1000 1
        window=$(probe dump --class QORNSFXCLASS --timeout 20000) || fail "$lang: no progress window"
        expect_line "$window" $'^1017\tButton\t.*\t'"$abort"'$' "$lang: the abort button"
        out=$(probe fits --class QORNSFXCLASS)
        expect_line "$out" '^every text fits$' "$lang progress window: a text is cut"
        probe close --class QORNSFXCLASS
        box=$(read_box)
        expect_line "$box" $'^65535\tStatic\t.*\t'"$question"'$' "$lang: the question"
        shot "$lang-question"
        probe click --control 65535 6
        rc=$(finish)
        [ "$rc" = 0 ] || fail "$lang: exit status $rc"
        rm -rf "dest-$lang" "$lang.exe"
    done
}

# A tree of a few files and an icon of four sizes (the 256 px image PNG,
# the others 32-bit bitmaps), for the builder's resource cases.
icon_tree() {
    mkdir -p src/tree/docs || fail
    echo "read me" > src/tree/readme.txt
    seq 1 20000 > src/tree/docs/numbers.txt
    convert -size 256x256 gradient:navy-gold -define icon:auto-resize=256,48,32,16 app.ico ||
        fail "cannot make the icon"
}

# The images of an icon file (or of the group read back from an executable
# with wrestool), one line each: width, height, size, SHA-256 of the bytes.
icon_images() {
    python3 - "$1" <<'PY'
import hashlib, struct, sys
d = open(sys.argv[1], "rb").read()
for k in range(struct.unpack_from("<H", d, 4)[0]):
    w, h, _, _, _, _, size, at = struct.unpack_from("<BBBBHHII", d, 6 + 16 * k)
    print(w or 256, h or 256, size, hashlib.sha256(d[at:at + size]).hexdigest())
PY
}

# Image K (from 0) of an icon file, its bytes to standard output.
icon_image() {
    python3 - "$1" "$2" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
size, at = struct.unpack_from("<II", d, 6 + 16 * int(sys.argv[2]) + 8)
sys.stdout.buffer.write(d[at:at + size])
PY
}

# An SFX with its own icon and version texts: what Windows reads of it (the
# version API, the icon it picks for each size), the images it holds, and
# the tree it extracts.
case_icon_version() {
    new_case icon_version
    icon_tree
    local out
    out=$("$TOOL" make --stub "$STUB" -o sfx.exe --no-settings --icon app.ico \
        --product-name 'デモ製品' --company 'Qorn Test Co.' --file-version 2.5.0.17 \
        --description 'Demo setup' src/tree 2>&1) || fail "qornsfx make: $out"
    [ "$(stat -c %s sfx.exe)" -gt 45056 ] && [ "$(od -An -c -j45056 -N1 sfx.exe | tr -d ' ')" = '\0' ] ||
        fail "the payload moved"
    local info
    info=$("$WINE" "$PROBE" fileinfo "$(winpath "$CASE_DIR/sfx.exe")" 2>/dev/null | tr -d '\r')
    expect_line "$info" $'^ProductName\tデモ製品$' "product name"
    expect_line "$info" $'^CompanyName\tQorn Test Co\\.$' "company"
    expect_line "$info" $'^FileDescription\tDemo setup$' "description"
    expect_line "$info" $'^FileVersion\t2\\.5\\.0\\.17$' "file version text"
    expect_line "$info" $'^fixed\t2\\.5\\.0\\.17$' "file version numbers"
    # Every image kept is the file's own, or a PNG made from the file's
    # bitmap of its size that shows the same pixels; 16, 32 and 48 px are
    # all kept, and whatever was left out was named.
    local images
    images=$(icon_images app.ico)
    wrestool -x -t14 -n102 -o back.ico sfx.exe || fail "wrestool reads no icon group"
    local kept left line px index
    kept=$(icon_images back.ico)
    [ -n "$kept" ] || fail "no images read back"
    while read -r line; do
        printf '%s\n' "$images" | grep -qxF "$line" && continue
        px=${line%% *}
        index=$(printf '%s\n' "$images" | awk -v p="$px" '$1 == p {print NR - 1; exit}')
        [ -n "$index" ] || fail "image of a size app.ico has not: $line"
        icon_image back.ico "$(printf '%s\n' "$kept" | awk -v l="$line" '$0 == l {print NR - 1}')" \
            >"back-$px.png"
        [ "$(head -c 4 "back-$px.png" | od -An -c | tr -d ' ')" = '211PNG' ] ||
            fail "the $px px image is neither the file's own nor a PNG"
        convert "png:back-$px.png" "rgba:back-$px.rgba" && convert "app.ico[$index]" "rgba:app-$px.rgba" &&
            [ "$(stat -c %s "app-$px.rgba")" = $((px * px * 4)) ] || fail "convert cannot read the $px px images"
        cmp -s "back-$px.rgba" "app-$px.rgba" || fail "the $px px PNG shows other pixels than the bitmap of app.ico"
        printf '%s\n' "$out" | grep -q "the ${px}x$px image is stored as PNG" ||
            fail "the $px px image stored as PNG without a note: $out"
    done <<<"$kept"
    left=$(printf '%s\n' "$images" | grep -c -v -E "^($(printf '%s\n' "$kept" | cut -d' ' -f1 |
        paste -sd'|')) ")
    [ "$(printf '%s\n' "$out" | grep -c 'is left out')" = "$left" ] || fail "left-out images not named: $out"
    # Windows picks the image of each size from the group, and it loads.
    for px in 16 32 48; do
        expect_line "$info" "^icon $px	$(printf '%s\n' "$kept" | awk -v p=$px '$1 == p {print $3}') bytes	loads\$" \
            "the $px px icon"
    done
    mkdir run && cd run || fail
    start ../sfx.exe
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    diff -r ../src/tree tree >&2 || fail "the extracted tree differs from the folder"
}

# Signing comes after make, here through make --sign-cmd: the signed SFX
# verifies, the tool still reads it, and it extracts the same tree (the
# signature follows the archive's end mark, where the stub stops reading).
case_signed() {
    new_case signed
    icon_tree
    openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
        -subj '/CN=Qorn SFX test' >/dev/null 2>&1 || fail "cannot make a certificate"
    make_sfx -o signed.exe --no-settings --icon app.ico --product-name 'Signed demo' \
        --sign-cmd "osslsigncode sign -certs cert.pem -key key.pem -n 'Signed demo' -h sha256 -in {} -out {}.signed >/dev/null && mv {}.signed {}" \
        src/tree >make.txt 2>/dev/null
    grep -q '^signed and tested: [0-9]* bytes of signature after the archive$' make.txt ||
        fail "make --sign-cmd: $(cat make.txt)"
    osslsigncode verify -CAfile cert.pem signed.exe >verify.txt 2>&1 || {
        cat verify.txt >&2
        fail "the signature does not verify"
    }
    "$TOOL" list signed.exe >list.txt || fail "qornsfx list of the signed file"
    grep -q 'docs/numbers.txt$' list.txt || fail "list: $(cat list.txt)"
    "$TOOL" test signed.exe >test.txt || fail "qornsfx test of the signed file: $(cat test.txt)"
    mkdir run && cd run || fail
    start ../signed.exe
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    diff -r ../src/tree tree >&2 || fail "the signed file extracted a different tree"
}

# qornsfx.exe under Wine: make from a folder with a Japanese name, list,
# test and extract; the stub built into it is the finished i686 one, and the
# SFX it makes (here with the stub the host runs) extracts the same tree.
case_windows_tool() {
    new_case windows_tool
    local wtool=${QORN_WINDOWS_TOOL:?} tree=日本語の木
    mkdir -p "$tree/空のフォルダ" "$tree/資料" || fail
    echo "こんにちは" > "$tree/資料/メモ.txt"
    seq 1 30000 > "$tree/numbers.txt"
    head -c 70000 /dev/urandom > "$tree/資料/noise.bin"
    wtool() { "$WINE" "$wtool" "$@" 2>&1 | tr -d '\r'; }
    local out
    # What ships is stripped, runs as the user who starts it, knows long
    # paths and says what it is on Explorer's Details tab.
    x86_64-w64-mingw32-objdump -h "$wtool" | grep -q '\.debug_' && fail "qornsfx.exe is not stripped"
    out=$(wrestool -x --raw --type=24 "$wtool") || fail "qornsfx.exe has no manifest"
    grep -q 'level="asInvoker"' <<<"$out" || fail "qornsfx.exe: not asInvoker"
    grep -q '<longPathAware[^>]*>true<' <<<"$out" || fail "qornsfx.exe: not long-path aware"
    grep -q 'processorArchitecture="amd64"' <<<"$out" || fail "qornsfx.exe: manifest not for amd64"
    out=$("$WINE" "$PROBE" fileinfo "$(winpath "$wtool")" 2>/dev/null | tr -d '\r')
    expect_line "$out" $'^FileDescription\tQorn SFX builder$' "qornsfx.exe: description"
    expect_line "$out" $'^fixed\t'"${QORN_VERSION:?}"'\.0$' "qornsfx.exe: file version"
    convert -size 32x32 xc:teal -define icon:auto-resize=32,16 app.ico || fail "cannot make the icon"
    out=$(wtool make -o sfx.exe --no-settings --stub "$(winpath "$STUB")" --icon app.ico \
        --product-name 'ツール' --file-version 1.0.2 "$tree") && [ -f sfx.exe ] ||
        fail "qornsfx.exe make: $out"
    out=$("$WINE" "$PROBE" fileinfo "$(winpath "$CASE_DIR/sfx.exe")" 2>/dev/null | tr -d '\r')
    expect_line "$out" $'^ProductName\tツール$' "product name"
    expect_line "$out" $'^fixed\t1\.0\.2\.0$' "file version"
    expect_line "$out" $'^icon 32\t4264 bytes\tloads$' "the 32 px icon"
    out=$(wtool list sfx.exe)
    expect_line "$out" "^-lh7- .* $tree/numbers\\.txt\$" "list: numbers.txt"
    expect_line "$out" "^-lh.- .* $tree/資料/メモ\\.txt\$" "list: the Japanese name"
    # Folder members only for the empty folder.
    expect_line "$out" '^total: 4 members' "list: member count"
    out=$(wtool test sfx.exe)
    expect_line "$out" '^3 OK, 0 damaged, 0 skipped$' "test: $out"
    out=$(wtool extract sfx.exe -d extracted)
    expect_line "$out" '^extracted: 4 members' "extract: $out"
    diff -r "$tree" "extracted/$tree" >&2 || fail "qornsfx.exe extracted a different tree"
    out=$(wtool make -o built-in.exe --no-settings "$tree") || fail "make with the built-in stub: $out"
    cmp -n 45056 built-in.exe "${QORN_STUB_I686:?}" || fail "the built-in stub is not the finished i686 stub"
    mkdir run && cd run || fail
    start ../sfx.exe
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    diff -r "../$tree" "$tree" >&2 || fail "the SFX made by qornsfx.exe extracted a different tree"
}

# Names that Unix and Mac archivers store freely and Windows refuses: each
# is extracted under a name Windows takes, and so is every member after it.
# Two names that clean to one path: the later member replaces the earlier.
case_names_windows_refuses() {
    new_case names_windows_refuses
    archive a.lzh 'what?.txt=text:what' 'a<b>.txt=text:angle' 'pipe|x.txt=text:pipe' \
        'quote".txt=text:quote' 'star*.txt=text:star' $'ctl\x01\x1f.txt=text:control' \
        '.../dots.txt=text:dots' 'sub/. ./deeper.txt=text:deeper' 'same?.txt=text:first' \
        'same*.txt=text:second' later.txt=text:later
    make_sfx -o sfx.exe --no-settings a.lzh
    mkdir run && cd run || fail
    start ../sfx.exe
    if probe find --class '#32770' --timeout 1500 >/dev/null; then
        read_box >&2
        shot names
        fail "a box was shown"
    fi
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    local want=(what_.txt:what a_b_.txt:angle pipe_x.txt:pipe quote_.txt:quote star_.txt:star
        ctl__.txt:control dots.txt:dots sub/deeper.txt:deeper same_.txt:second later.txt:later)
    local pair
    for pair in "${want[@]}"; do
        [ "$(cat "${pair%%:*}" 2>/dev/null)" = "${pair#*:}" ] ||
            fail "${pair%%:*} missing or wrong; extracted: $(find . -type f | tr '\n' ' ')"
    done
    [ "$(find . -type f | wc -l)" = "${#want[@]}" ] || fail "other files: $(find . -type f | tr '\n' ' ')"
}

# The Win32 path handling itself, built for Windows: Wine would take the
# plain long paths that Windows refuses, so the forms are checked directly.
case_long_path_forms() {
    new_case long_path_forms
    [ -n "$PATHS" ] && [ -f "$PATHS" ] || fail "no qorn-paths test program"
    local out rc=0
    out=$("$WINE" "$PATHS" 2>/dev/null | tr -d '\r') || rc=$?
    printf '%s\n' "$out"
    [ "$rc" = 0 ] || fail "qorn-paths exit status $rc"
    expect_line "$out" '^[0-9]+ passed, 0 failed$' "summary"
}

# A tree whose paths pass MAX_PATH below the destination: every file comes
# back with its bytes and time, the members after the deep ones too.
case_deep_tree() {
    new_case deep_tree
    local deep=src/tree part
    for part in 1 2 3 4 5 6 7; do
        deep=$deep/folder-$part-with-a-name-long-enough-to-add-up-quickly
    done
    mkdir -p "$deep" || fail
    printf 'deep\n' > "$deep/a-file-at-the-bottom-of-a-tree-deeper-than-max-path.txt"
    printf 'last\n' > src/tree/zz-after.txt
    touch -d '2003-04-05 06:07:08 UTC' "$deep/a-file-at-the-bottom-of-a-tree-deeper-than-max-path.txt"
    make_sfx -o sfx.exe --no-settings src/tree
    mkdir run && cd run || fail
    start ../sfx.exe
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    diff -r ../src/tree tree >&2 || fail "the extracted tree differs"
    local f=${deep#src/}/a-file-at-the-bottom-of-a-tree-deeper-than-max-path.txt
    [ ${#f} -gt 300 ] || fail "the test path is only ${#f} characters"
    [ "$(stat -c %Y "$f")" = "$(stat -c %Y "../src/$f")" ] || fail "time of the deep file"
}

# A damaged member deeper than MAX_PATH: the label and the box show the long
# path shortened, for display only; the file itself keeps its whole path.
case_deep_damaged() {
    new_case deep_damaged
    local deep="" i
    for i in 1 2 3 4 5 6; do deep+="folder-$i-$(printf 'x%.0s' $(seq 50))/"; done
    local file=${deep}damaged-member.txt
    archive a.lzh --level2 "$file=text:some text" after.txt=text:after --damage "$file"
    make_sfx -o sfx.exe --no-settings --force a.lzh 2>/dev/null
    mkdir run && cd run || fail
    start ../sfx.exe
    local box window label
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\tファイル ….*/damaged-member\\.txt が壊れています。$' \
        "damaged-file text naming the long path by its end"
    window=$(probe dump --class QORNSFXCLASS --timeout 2000) || fail "no progress window"
    label=$(printf '%s\n' "$window" | awk -F'\t' '$1 == 0 && $2 == "Static" {print $5}')
    [[ "$label" == *damaged-member.txt ]] && [ ${#label} -lt 100 ] || fail "status label: $label"
    shot deep-damaged
    probe click --control 65535 1
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ -f "$file" ] || fail "the damaged file was not kept under its whole path"
    [ ! -e after.txt ] || fail "a member after the damaged one was extracted"
}

# A name the system refuses (300 characters in one part): the box names the
# path beside the system's reason, and the run ends there as failed.
case_path_refused() {
    new_case path_refused
    # make refuses a name longer than Windows takes; forced, the stub says why.
    make_sfx -o sfx.exe --no-settings --force "$SRC/tests/data/hostile/long-name-300.lzh" 2>/dev/null
    mkdir run && cd run || fail
    start ../sfx.exe
    local box name
    name=…$(printf 'n%.0s' $(seq 115)).txt
    box=$(read_box)
    expect_line "$box" $'^65535\tStatic\t.*\t'"$name"'\r?$' "the box names the path by its end"
    [ "$(printf '%s\n' "$box" | grep -A1 "$name" | tail -1 | tr -d '[:space:]')" != "" ] ||
        fail "no reason after the path"
    shot path-refused
    probe click --control 65535 1
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ -z "$(ls -A)" ] || fail "something was extracted: $(ls -A)"
}

# make decodes every member before it writes: a damaged archive gets no
# self-extracting file, and the message names the member and the reason.
case_make_refuses_damage() {
    new_case make_refuses_damage
    archive a.lzh a.txt=text:alpha sub/b.txt=text:bravo c.txt=text:charlie --damage sub/b.txt
    local err rc=0
    err=$("$TOOL" make --stub "$STUB" -o sfx.exe --no-settings a.lzh 2>&1) || rc=$?
    [ "$rc" = 1 ] || fail "make exit status $rc: $err"
    expect_line "$err" '^qornsfx: a\.lzh: member 2 "sub/b\.txt": CRC mismatch' "the member and the reason"
    [ ! -e sfx.exe ] && [ ! -e sfx.exe.part ] || fail "an output file was left behind"
    archive j.lzh a.txt=text:alpha --junk --no-end
    rc=0
    err=$("$TOOL" make --stub "$STUB" -o sfx.exe --no-settings j.lzh 2>&1) || rc=$?
    [ "$rc" = 1 ] || fail "make exit status $rc on a bad header: $err"
    expect_line "$err" 'member 2 \(after "a\.txt"\): its header cannot be read' "the bad header"
    [ ! -e sfx.exe ] || fail "an output file was left behind"
}

# Level-2 archives of stored members under UTF-16 names: NAME=text:STRING
# for a file, NAME/ for a folder, NAME/=past for a folder whose packed size
# runs past the end of the file.
archive_utf16() {
    PYTHONPATH="$SRC/tests/e2e" python3 - "$@" <<'PY' || fail "cannot write the archive"
import struct, sys
from lzh0 import crc16
out = b""
for member in sys.argv[2:]:
    name, _, value = member.partition("=")
    folder = name.endswith("/")
    data = b"" if folder else value.split(":", 1)[1].encode()
    packed = 5000 if value == "past" else len(data)
    kind, text = (0x45, name[:-1]) if folder else (0x44, name)
    ext = bytes([kind]) + text.encode("utf-16-le")
    ext = struct.pack("<H", len(ext) + 2) + ext
    fixed = (b"-lhd-" if folder else b"-lh0-") + struct.pack(
        "<IIIBBHB", packed, len(data), 1700000000, 0x20, 2, crc16(data), ord("U"))
    body = fixed + ext + b"\0\0"
    out += struct.pack("<H", len(body) + 2) + body + data
open(sys.argv[1], "wb").write(out + b"\0")
PY
}

# refused_by_both DIR REASON MEMBER...: make refuses the archive, naming a
# member and REASON (a pattern), and leaves no file; the file --force writes
# then runs silently, its exit status left in STATUS.
STATUS=
refused_by_both() {
    local dir=$1 reason=$2 err rc=0
    shift 2
    mkdir "$CASE_DIR/$dir" && cd "$CASE_DIR/$dir" || fail
    archive_utf16 a.lzh "$@"
    err=$("$TOOL" make --stub "$STUB" -o sfx.exe --no-settings a.lzh 2>&1) || rc=$?
    [ "$rc" = 1 ] || fail "$dir: make exit status $rc: $err"
    expect_line "$err" "^qornsfx: a\\.lzh: member [0-9]+ \".*\": $reason" "$dir: the member and the reason"
    [ ! -e sfx.exe ] || fail "$dir: an output file was left behind"
    make_sfx -o sfx.exe --no-settings --force a.lzh 2>/dev/null
    start sfx.exe /S
    STATUS=$(finish)
}

# What make refuses, the stub cannot extract completely; what it takes, the
# stub extracts.
case_make_agrees_with_stub() {
    new_case make_agrees_with_stub
    local rc
    # A file and a folder whose names differ in case beyond ASCII: the
    # folder's member deletes the file, or cannot be made.
    refused_by_both case 'a file and a folder of one name' 'ä=text:file' 'Ä/'
    [ "$STATUS" != 0 ] || [ "$(cat ä 2>/dev/null)" != file ] || fail "case: the stub kept both"
    refused_by_both fullwidth 'a file and a folder of one name' 'ｘ=text:file' 'Ｘ/'
    [ "$STATUS" != 0 ] || [ "$(cat ｘ 2>/dev/null)" != file ] || fail "fullwidth: the stub kept both"
    # A folder whose packed size runs past the end: damage.
    refused_by_both past 'truncated' 'd/=past' 'after.txt=text:after'
    [ "$STATUS" = 3 ] || fail "past: exit status $STATUS"
    # A file named "dir/.": the folder it would lie in.
    refused_by_both dot 'a file whose name is "\."' 'dir/.=text:dot' 'after.txt=text:after'
    [ "$STATUS" = 4 ] || fail "dot: exit status $STATUS"

    # Names Windows tells apart (the Kelvin sign is its own upper case):
    # taken, and every member extracted.
    mkdir "$CASE_DIR/taken" && cd "$CASE_DIR/taken" || fail
    archive_utf16 a.lzh 'ä=text:file' 'ö/' 'straße=text:sharp' 'STRASSE/' 'K=text:kelvin' 'k/' \
        'dir/./in.txt=text:in'
    make_sfx -o sfx.exe --no-settings a.lzh
    start sfx.exe /S
    rc=$(finish)
    [ "$rc" = 0 ] || fail "taken: exit status $rc"
    [ "$(cat ä)" = file ] && [ -d ö ] && [ "$(cat straße)" = sharp ] && [ -d STRASSE ] &&
        [ "$(cat K)" = kelvin ] && [ -d k ] && [ "$(cat dir/in.txt)" = in ] ||
        fail "taken: extracted $(find . | tr '\n' ' ')"
}

# The stub reads an OS-9/68k level-2 header (whose length leaves out its own
# two bytes) and a level-3 header (32-bit sizes). The first member is derived
# from a real level-2 archive of the corpus: length lowered by 2, OS id 'K',
# header CRC taken again; the second is the corpus's level-3 archive.
case_header_levels() {
    new_case header_levels
    python3 - "$SRC/tests/data/corpus/lhasa" a.lzh <<'PY' || fail "cannot write the archive"
import struct, sys
def crc16(data):
    c = 0
    for b in data:
        c ^= b
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
    return c
lv2 = bytearray(open(sys.argv[1] + "/unix-a/h2_lh5.lzh", "rb").read())
assert struct.unpack("<H", lv2[:2])[0] == 51 and lv2[23:24] == b"U" and lv2[-1] == 0
lv2[0:2] = struct.pack("<H", 49)
lv2[23] = ord("K")
lv2[27:29] = b"\0\0"
lv2[27:29] = struct.pack("<H", crc16(lv2[:51]))
lv3 = open(sys.argv[1] + "/os2-b/h3_lh0.lzh", "rb").read()
open(sys.argv[2], "wb").write(bytes(lv2[:-1]) + lv3)
PY
    make_sfx -o sfx.exe --no-settings a.lzh
    mkdir run && cd run || fail
    start ../sfx.exe
    local rc
    rc=$(finish)
    [ "$rc" = 0 ] || fail "exit status $rc"
    [ "$(sha256sum < gpl-2 | cut -c1-64)" = 8177f97513213526df2cf6184d8ff986c675afb514d4e68a404010521b880643 ] ||
        fail "gpl-2 (OS-9/68k level 2) differs"
    [ "$(sha256sum < GPL-2.gz | cut -c1-64)" = 5c423e9bdf915d23972369959f5a71bfbcc1d32d09fb8d7198755861d289966e ] ||
        fail "GPL-2.gz (level 3) differs"
    [ "$(stat -c %Y gpl-2)" = 1262304000 ] && [ "$(stat -c %Y GPL-2.gz)" = 1322948122 ] ||
        fail "time stamps: $(stat -c '%n %Y' gpl-2 GPL-2.gz | tr '\n' ' ')"
}

case "${1:-}" in
setup) setup ;;
cleanup) cleanup ;;
*)
    declare -F "case_$1" >/dev/null || fail "no case $1"
    "case_$1"
    echo "ok: $1"
    ;;
esac
