#!/bin/bash
# End-to-end tests of the stub under Wine: each case builds a self-extracting
# file with `qornsfx make`, runs it on a virtual display and reads what the
# windows show through qorn-probe (a Win32 console helper in the same
# prefix), then checks the files on disk and the exit status.
#
#   e2e.sh setup | cleanup | CASE
# Environment (set by suite.cmake): QORN_E2E_DIR (work folder), QORN_TOOL,
# QORN_PROBE, QORN_SOURCE; QORN_E2E_STUB (the stub the SFX files are made
# with), QORN_WINE (the loader) and QORN_WINE_ARCH (win32, or win64 for the
# x86_64 build on hosts that run no 32-bit programs).
set -u -o pipefail

E2E=${QORN_E2E_DIR:?}
TOOL=${QORN_TOOL:?}
PROBE=${QORN_PROBE:?}
SRC=${QORN_SOURCE:?}
SHOTS=$(dirname "$E2E")/e2e-screens
STUB=${QORN_E2E_STUB:?}
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

# Runs the stub in the background; finish() waits for its exit status.
start() {
    rm -f "$CASE_DIR/.rc"
    (timeout 120 "$WINE" "$1" >"$CASE_DIR/.out" 2>&1; echo $? >"$CASE_DIR/.rc") </dev/null &
}
finish() {
    for _ in $(seq 600); do
        [ -s "$CASE_DIR/.rc" ] && { cat "$CASE_DIR/.rc"; return; }
        sleep 0.1
    done
    echo timeout
}

shot() { import -window root "$SHOTS/$1.png" 2>/dev/null || echo "no screenshot $1" >&2; }

expect_line() {  # TEXT REGEX WHAT
    printf '%s\n' "$1" | grep -qE "$2" || { printf '%s\n' "$1" >&2; fail "$3"; }
}

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

# Closing the window while a member is written: like the abort button, the
# window waits for the worker to stop and the half-written file goes.
case_close_during_run() {
    new_case close_during_run
    archive a.lzh a.txt=text:alpha big.bin=zeros:400000000
    make_sfx -o sfx.exe --no-settings a.lzh
    rm a.lzh
    mkdir run && cd run || fail
    start ../sfx.exe
    probe find --class QORNSFXCLASS --timeout 20000 >/dev/null || fail "no progress window"
    probe close --class QORNSFXCLASS
    local rc
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
