#!/bin/sh
# Installs what building and testing Qorn SFX needs on Debian 12: the native
# tool chain and GoogleTest, g++-multilib for the 32-bit build of the core
# and qemu-user-static to run it where the kernel runs no 32-bit programs,
# MinGW-w64 for the Windows stub and tool, and Wine with a virtual display,
# Japanese fonts and the ja_JP.UTF-8 locale for the end-to-end tests. Safe to
# run again. Needs root.
#
# - When every package is installed and the locale exists, it calls no apt
#   at all (a broken package index then cannot stop a build).
# - `apt-get update` is tried a few times with a growing pause; an index that
#   still fails is named and the run goes on with the lists apt has.
# - 32-bit Wine is installed only where the kernel runs 32-bit programs; where
#   that is not so, or it cannot be installed, the script says so and goes on
#   (cmake then runs the end-to-end cases on the x86_64 build under wine64).
# - It fails, naming the package and apt's reason, only when something the
#   build or the tests need on this host cannot be installed.
#
# QORN_I386=yes|no skips the 32-bit probe. QORN_APT_TRIES (default 4) and QORN_APT_PAUSE (seconds before the second
# try, doubled each time; default 5) tune the retries.
set -eu

say() { echo "install-deps: $*"; }

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root (or through sudo)" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive

# What the build and the tests need on every host.
needed="cmake ninja-build g++ make libgtest-dev clang-format clang libclang-rt-14-dev
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 xvfb xdotool imagemagick x11-apps fonts-ipafont-gothic locales
    lhasa jlha-utils p7zip-full python3 icoutils osslsigncode openssl
    lintian help2man g++-multilib qemu-user-static libcli11-dev libtomlplusplus-dev
    libstb-dev zlib1g-dev libz-mingw-w64-dev"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Whether the kernel runs 32-bit x86 programs (a tiny i386 program tells).
runs_i386() {
    case "${QORN_I386:-}" in yes) return 0 ;; no) return 1 ;; esac
    sh "$(dirname "$0")/runs-i386.sh"
}

# apt's reasons from a log: its error and dependency lines, else its last lines.
reasons() {
    if grep -qE '^(E|W): |Depends:|Breaks:|Conflicts:' "$1"; then
        grep -E '^(E|W): |Depends:|Breaks:|Conflicts:' "$1" | sed 's/^/    /'
    else
        tail -n 5 "$1" | sed 's/^/    /'
    fi
}

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

locale_ready() {
    locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'
}

want_wine32=0
if runs_i386; then
    want_wine32=1
else
    say "this kernel runs no 32-bit x86 programs: 32-bit Wine is not installed" \
        "(the end-to-end cases use the x86_64 build under wine64)"
fi

missing=""
for p in $needed; do
    installed "$p" || missing="$missing $p"
done
wine32_missing=0
if [ "$want_wine32" = 1 ] && ! installed wine32:i386; then
    wine32_missing=1
fi
if [ -z "$missing" ] && [ "$wine32_missing" = 0 ] && locale_ready; then
    say "every package is installed and the ja_JP.UTF-8 locale exists: no apt call"
    exit 0
fi
[ -n "$missing" ] && say "to install:$missing"

# Wine's 32-bit half comes from the i386 architecture.
if [ "$wine32_missing" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

if [ -n "$missing" ] || [ "$wine32_missing" = 1 ]; then
    tries=${QORN_APT_TRIES:-4}
    pause=${QORN_APT_PAUSE:-5}
    n=1
    while :; do
        if apt-get update >"$scratch/update.log" 2>&1; then
            break
        fi
        if [ "$n" -ge "$tries" ]; then
            say "apt-get update failed $n times; going on with the package lists apt has." \
                "What failed:"
            reasons "$scratch/update.log"
            break
        fi
        say "apt-get update failed (try $n of $tries); trying again in $pause s"
        sleep "$pause"
        pause=$((pause * 2))
        n=$((n + 1))
    done

    if [ -n "$missing" ]; then
        # shellcheck disable=SC2086
        if ! apt-get install -y --no-install-recommends $missing >"$scratch/install.log" 2>&1; then
            # One at a time, to name what cannot be had and apt's reason.
            failed=""
            for p in $missing; do
                if ! apt-get install -y --no-install-recommends "$p" >"$scratch/one.log" 2>&1; then
                    failed="$failed $p"
                    echo "install-deps: cannot install $p:" >&2
                    reasons "$scratch/one.log" >&2
                fi
            done
            if [ -n "$failed" ]; then
                echo "install-deps: the build or the tests need:$failed" >&2
                exit 1
            fi
        fi
    fi

    if [ "$wine32_missing" = 1 ]; then
        if apt-get install -y --no-install-recommends wine32:i386 >"$scratch/wine32.log" 2>&1; then
            say "32-bit Wine installed"
        else
            say "32-bit Wine cannot be installed; the end-to-end cases will use the x86_64" \
                "build under wine64. apt said:"
            reasons "$scratch/wine32.log"
        fi
    fi
fi

# Wine picks the ANSI code page from the Linux locale; the tests run under
# ja_JP.UTF-8 (code page 932), which glibc must know.
if ! locale_ready; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
    locale_ready || {
        echo "install-deps: the ja_JP.UTF-8 locale could not be made" >&2
        exit 1
    }
fi
say "done"
