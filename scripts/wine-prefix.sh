#!/bin/sh
# Creates and configures a private Wine prefix for running the stub:
#   scripts/wine-prefix.sh PREFIX_DIR
# WINE names the loader (default: wine) and WINEARCH the prefix's kind
# (default: win32); the 64-bit test path passes /usr/lib/wine/wine64, win64.
# The prefix gets its own HOME beside it (PREFIX_DIR.home) so that Wine never
# writes menu entries or desktop links into the real home folder. Settings:
#   - no window manager needed: Wine draws the frames itself (Managed=N);
#   - "MS UI Gothic", the dialog font, is drawn with IPAGothic;
#   - .txt files open with a handler that only records the path, so a test
#     can see what the stub asked the shell to open;
#   - Desktop and Documents are real folders, not links into HOME.
# Prints the environment to use (WINEPREFIX, HOME, WINEDEBUG, ...).
set -eu

PREFIX=${1:?usage: wine-prefix.sh PREFIX_DIR}
case "$PREFIX" in /*) ;; *) PREFIX=$(pwd)/$PREFIX ;; esac
HOMEDIR=$PREFIX.home
mkdir -p "$HOMEDIR"

export WINEPREFIX="$PREFIX" HOME="$HOMEDIR" WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe,mscoree,mshtml=d"
export WINEARCH=${WINEARCH:-win32}
WINE=${WINE:-wine}

if [ ! -f "$PREFIX/system.reg" ]; then
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
fi

# The .txt handler: a batch file that appends its argument to a log on the
# C: drive. cmd's "start" of a .txt then needs no editor window.
DRIVE_C=$PREFIX/drive_c
mkdir -p "$DRIVE_C/qorn"
printf '@echo %%~1>>C:\\qorn\\opened.log\r\n' > "$DRIVE_C/qorn/open-txt.cmd"

REG=$(mktemp)
cat > "$REG" <<'REGEOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="IPAGothic"
"MS Shell Dlg"="IPAGothic"
"MS Shell Dlg 2"="IPAGothic"
"Tahoma"="IPAGothic"

[HKEY_CLASSES_ROOT\.txt]
@="txtfile"

[HKEY_CLASSES_ROOT\txtfile\shell\open\command]
@="C:\\windows\\system32\\cmd.exe /c C:\\qorn\\open-txt.cmd \"%1\""
REGEOF
"$WINE" regedit /S "$("$WINE" winepath -w "$REG" 2>/dev/null)" >/dev/null 2>&1
rm -f "$REG"
wineserver -w

# Real folders for the desktop and documents: Wine links them to HOME.
USERDIR=$DRIVE_C/users/$(id -un)
for name in Desktop Documents; do
    if [ -L "$USERDIR/$name" ]; then
        rm "$USERDIR/$name"
        mkdir -p "$USERDIR/$name"
    fi
done

echo "WINEPREFIX=$PREFIX"
echo "HOME=$HOMEDIR"
echo "WINEDEBUG=-all"
echo "WINEDLLOVERRIDES=$WINEDLLOVERRIDES"
