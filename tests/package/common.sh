# Shared by the install and package checks: a scratch folder removed on exit, a way to
# report a failed check without stopping at the first one, and an install of the build
# into a temporary DESTDIR.
#
# Environment (set by CMakeLists.txt): ODOMIRA_SOURCE_DIR, ODOMIRA_BUILD_DIR,
# ODOMIRA_VERSION, ODOMIRA_RELEASE_DATE, ODOMIRA_APP_ID (AppStream), ODOMIRA_DESKTOP_ID,
# ODOMIRA_ICON_SIZES, ODOMIRA_HAS_APP (1 when the windowed program is built),
# ODOMIRA_HARDENED (1 when built with Debian's hardening flags).
set -euo pipefail

: "${ODOMIRA_SOURCE_DIR:?}" "${ODOMIRA_BUILD_DIR:?}" "${ODOMIRA_VERSION:?}"
: "${ODOMIRA_RELEASE_DATE:?}" "${ODOMIRA_APP_ID:?}" "${ODOMIRA_DESKTOP_ID:?}"
: "${ODOMIRA_ICON_SIZES:?}" "${ODOMIRA_HAS_APP:?}"

# What the packages hold, and what the windowed program looks for beside itself.
programs=(odomira-cli odomira-printer-sim)
if [[ $ODOMIRA_HAS_APP == 1 ]]; then
    programs+=(odomira)
fi
manual_from_bin=../share/odomira/manual/index.html
mime_type=application/x-varko-printer-settings

scratch=$(mktemp -d "${TMPDIR:-/tmp}/odomira-package.XXXXXX")
cleanups=()
on_exit() {
    local c
    for c in "${cleanups[@]}"; do eval "$c" || true; done
    rm -rf "$scratch"
}
trap on_exit EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}
finish() {
    if ((failures)); then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

need_tools() {
    local t missing=()
    for t in "$@"; do
        command -v "$t" >/dev/null 2>&1 || missing+=("$t")
    done
    if ((${#missing[@]})); then
        echo "FAIL: missing tools: ${missing[*]} (scripts/setup installs them)" >&2
        exit 1
    fi
}

# Installs the build under $1 with the prefix /usr, as a package would.
install_tree() {
    DESTDIR=$1 cmake --install "$ODOMIRA_BUILD_DIR" --prefix /usr >"$scratch/install.log" 2>&1 ||
        { cat "$scratch/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }
}

# The copy of the printer library that a program in an installed tree loads, found the
# way the dynamic loader finds it (no LD_LIBRARY_PATH); empty when it is not found there.
resolved_library() {
    local program=$1 tree=$2
    env -u LD_LIBRARY_PATH ldd "$program" 2>/dev/null |
        awk -v t="$tree" '$1 ~ /^libVarkoPrintersExt\.so/ && index($3, t) == 1 { print $3 }'
}

# Checks that the printer library a program loads lies in the tree, that the USB
# library lies beside it, and that the program runs from there.
check_program_runs() {
    local tree=$1 bin=$1/usr/bin program lib dir
    for program in "${programs[@]}"; do
        if [[ ! -x $bin/$program ]]; then
            fail "$program is not installed in usr/bin"
            continue
        fi
        if readelf -d "$bin/$program" | grep -E 'R(UN)?PATH' | grep -qF "$ODOMIRA_BUILD_DIR"; then
            fail "$program keeps a run path into the build folder"
        fi
        [[ $program == odomira-printer-sim ]] && continue # shares no code with the library
        lib=$(resolved_library "$bin/$program" "$tree")
        if [[ -z $lib ]]; then
            fail "$program does not find libVarkoPrintersExt.so in the installed tree:"
            env -u LD_LIBRARY_PATH ldd "$bin/$program" | grep -i varko >&2 || true
            continue
        fi
        dir=$(dirname "$lib")
        if [[ ! -f $dir/libVarkoUSB.so ]]; then
            fail "libVarkoUSB.so is not beside ${lib#"$tree"}, where the library loads it from"
        elif ! readelf --dyn-syms -W "$dir/libVarkoUSB.so" | awk '$7 != "UND"' | grep -qw DetectUSBDevices; then
            fail "libVarkoUSB.so does not export DetectUSBDevices"
        else
            pass "$program loads ${lib#"$tree"}, with libVarkoUSB.so beside it"
        fi
    done
    check_version "$bin/odomira-cli" "odomira-cli $ODOMIRA_VERSION"
    if [[ $ODOMIRA_HAS_APP == 1 ]]; then
        check_version "$bin/odomira" "odomira $ODOMIRA_VERSION"
    else
        echo "SKIPPED: odomira --version: the windowed program is not part of this build yet"
    fi
}

# Runs PROGRAM --version without the build's library path and expects TEXT in the output.
check_version() {
    local program=$1 expected=$2 out
    if ! out=$(env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen "$program" --version 2>&1 </dev/null); then
        fail "$(basename "$program") --version failed: $out"
    elif [[ $out != "$expected" ]]; then
        fail "$(basename "$program") --version printed '$out', expected '$expected'"
    else
        pass "$(basename "$program") --version: $out"
    fi
}
