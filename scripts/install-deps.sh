#!/bin/sh
# Installs what building and testing Qorn SFX needs on Debian 12: the native
# tool chain and GoogleTest, MinGW-w64 for the Windows stub, and Wine with a
# virtual display, Japanese fonts and the ja_JP.UTF-8 locale for the
# end-to-end tests. Safe to run again. Needs root.
set -eu

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps.sh: run as root (or through sudo)" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive

# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update
apt-get install -y --no-install-recommends \
    cmake ninja-build g++ make libgtest-dev clang-format clang libclang-rt-14-dev \
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
    wine wine32:i386 wine64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 xvfb xdotool imagemagick x11-apps \
    fonts-ipafont-gothic locales \
    lhasa jlha-utils p7zip-full python3 icoutils osslsigncode openssl

# Wine picks the ANSI code page from the Linux locale; the tests run under
# ja_JP.UTF-8 (code page 932), which glibc must know.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen
fi
