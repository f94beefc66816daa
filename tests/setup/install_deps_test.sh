#!/bin/bash
# scripts/install-deps.sh against a fake apt: which calls it makes, what it
# says and how it ends when the package index or a package cannot be had.
# The fakes (apt-get, dpkg, dpkg-query, locale, id) come first in PATH and
# keep their state in one scratch folder per case.
set -uo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passed=0

# Every package the script asks for, read from the script itself.
needed=$(sed -n '/^needed="/,/"$/p' "$script" | tr -d '"' | sed 's/^needed=//')

fakes() {  # DIR
    local bin=$1/bin
    mkdir -p "$bin"
    cat >"$bin/apt-get" <<'FAKE'
#!/bin/sh
echo "apt-get $*" >>"$FAKE/calls"
case "$1" in
update)
    left=$(cat "$FAKE/update-fails" 2>/dev/null || echo 0)
    if [ "$left" != 0 ]; then
        [ "$left" = always ] || echo $((left - 1)) >"$FAKE/update-fails"
        echo "Get:1 http://deb.example/debian bookworm InRelease"
        echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1234 != 5678). Mirror sync in progress? [IP: 192.0.2.1 80]"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 100
    fi
    exit 0 ;;
install)
    shift
    for p in "$@"; do
        case "$p" in -*) continue ;; esac
        if grep -qx "$p" "$FAKE/broken" 2>/dev/null; then
            echo "Some packages could not be installed."
            echo " $p : Depends: libfoo (= 1.2) but 1.1 is to be installed"
            echo "E: Unable to correct problems, you have held broken packages."
            exit 100
        fi
    done
    for p in "$@"; do
        case "$p" in -*) continue ;; esac
        echo "$p" >>"$FAKE/installed"
    done
    exit 0 ;;
esac
exit 0
FAKE
    cat >"$bin/dpkg-query" <<'FAKE'
#!/bin/sh
# dpkg-query -W -f=FORMAT PACKAGE
for p; do :; done
if grep -qx "$p" "$FAKE/installed" 2>/dev/null; then
    printf 'install ok installed'
    exit 0
fi
echo "dpkg-query: no packages found matching $p" >&2
exit 1
FAKE
    cat >"$bin/dpkg" <<'FAKE'
#!/bin/sh
echo "dpkg $*" >>"$FAKE/calls"
case "$1" in
--print-foreign-architectures) cat "$FAKE/arches" 2>/dev/null ;;
--add-architecture) echo "$2" >>"$FAKE/arches" ;;
esac
FAKE
    printf '#!/bin/sh\necho C\necho C.utf8\necho ja_JP.utf8\n' >"$bin/locale"
    printf '#!/bin/sh\necho 0\n' >"$bin/id"
    chmod +x "$bin"/*
}

# Runs the script in a new case folder; sets $dir, $out (both streams), $rc.
run_case() {  # NAME [VAR=VALUE...]
    dir=$work/$1
    shift
    mkdir -p "$dir"
    fakes "$dir"
    : >"$dir/calls"
    [ -n "${installed_list:-}" ] && printf '%s\n' $installed_list >"$dir/installed"
    [ -n "${broken_list:-}" ] && printf '%s\n' $broken_list >"$dir/broken"
    [ -n "${update_fails:-}" ] && echo "$update_fails" >"$dir/update-fails"
    out=$(env PATH="$dir/bin:$PATH" FAKE="$dir" QORN_APT_PAUSE=0 "$@" sh "$script" 2>&1)
    rc=$?
}

check() {  # WHAT CONDITION...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failures=$((failures + 1))
        echo "FAILED: $what"
        echo "--- output:"
        echo "$out"
        echo "--- apt calls:"
        cat "$dir/calls"
    fi
}
says() { grep -qF -- "$1" <<<"$out"; }
calls() { grep -c "^apt-get $1" "$dir/calls"; }

# Everything installed and the locale there: no apt call at all, even with
# an index that would fail.
installed_list=$needed update_fails=always broken_list=
run_case all_installed QORN_I386=no
check "all installed: exit 0" test "$rc" = 0
check "all installed: no apt call" test ! -s "$dir/calls"
check "all installed: says so" says "no apt call"

# One index fails on every try: the script retries, names the index and
# installs from the lists it has.
installed_list="cmake g++" update_fails=always broken_list=
run_case index_fails QORN_I386=no QORN_APT_TRIES=3
check "failing index: exit 0" test "$rc" = 0
check "failing index: three tries" test "$(calls update)" = 3
check "failing index: names it" says "binary-i386/Packages.xz  File has unexpected size"
check "failing index: installs the rest" test "$(calls install)" = 1
check "failing index: what was missing is installed" grep -qx lintian "$dir/installed"
check "failing index: cmake is not asked for again" \
    bash -c "! grep -q ' cmake ' '$dir/calls'"

# A failure that passes: the second try works and nothing is said about it.
installed_list="cmake" update_fails=1 broken_list=
run_case index_recovers QORN_I386=no
check "index recovers: exit 0" test "$rc" = 0
check "index recovers: two tries" test "$(calls update)" = 2
check "index recovers: no failure listed" bash -c "! grep -q 'failed 2 times' <<<'$out'"

# A kernel that runs 32-bit programs but 32-bit Wine cannot be installed:
# said, and the run goes on.
installed_list=$needed update_fails=always broken_list=wine32:i386
run_case wine32_broken QORN_I386=yes QORN_APT_TRIES=2
check "wine32 broken: exit 0" test "$rc" = 0
check "wine32 broken: i386 added" grep -q "dpkg --add-architecture i386" "$dir/calls"
check "wine32 broken: tried once" test "$(grep -c 'install .*wine32:i386' "$dir/calls")" = 1
check "wine32 broken: says so" says "32-bit Wine cannot be installed"
check "wine32 broken: gives apt's reason" says "held broken packages"

# A kernel without 32-bit programs: neither i386 nor wine32 is asked for.
installed_list="cmake" update_fails= broken_list=
run_case no_i386 QORN_I386=no
check "no i386: exit 0" test "$rc" = 0
check "no i386: no architecture added" bash -c "! grep -q add-architecture '$dir/calls'"
check "no i386: no wine32" bash -c "! grep -q wine32 '$dir/calls'"
check "no i386: says why" says "runs no 32-bit x86 programs"

# Something the build needs cannot be had: exit 1 with the package and apt's reason.
installed_list="cmake" update_fails= broken_list="g++-mingw-w64-i686-posix"
run_case needed_broken QORN_I386=no
check "needed broken: exit 1" test "$rc" = 1
check "needed broken: names the package" says "cannot install g++-mingw-w64-i686-posix"
check "needed broken: gives apt's reason" says "Depends: libfoo (= 1.2)"
check "needed broken: names only that one" bash -c "! grep -q 'cannot install lintian' <<<'$out'"

echo "install-deps: $passed passed, $failures failed"
[ "$failures" = 0 ]
