#!/usr/bin/env bash
# The Debian package, as CI checks it: CPack builds it, dpkg-deb lists it and unpacks it
# into a temporary folder, and the programs run from there.
source "$(dirname "$0")/common.sh"
need_tools cpack dpkg-deb dpkg-shlibdeps dpkg ldd readelf

out=$scratch/out
if ! cpack --config "$ODOMIRA_BUILD_DIR/CPackConfig.cmake" -G DEB -B "$out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    fail "cpack -G DEB"
    finish
fi
arch=$(dpkg --print-architecture)
deb=$out/odomira_${ODOMIRA_VERSION}_$arch.deb
if [[ ! -f $deb ]]; then
    fail "cpack made no odomira_${ODOMIRA_VERSION}_$arch.deb: $(ls "$out")"
    finish
fi
pass "cpack made $(basename "$deb")"

# The control fields; Depends comes from dpkg-shlibdeps, so the Qt and C libraries the
# programs link must be named there.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == odomira ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$ODOMIRA_VERSION" ]] || fail "Version is '$(field Version)'"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture is '$(field Architecture)'"
[[ $(field Section) == utils ]] || fail "Section is '$(field Section)'"
[[ -n $(field Maintainer) ]] || fail "no Maintainer"
depends=$(field Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6; do
    [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == *"$lib" ]] ||
        fail "Depends lacks $lib: $depends"
done
[[ $depends != *odomira* && $depends != *varko* ]] || fail "Depends names our own libraries: $depends"
description=$(field Description)
[[ $(wc -l <<<"$description") -ge 3 ]] || fail "the description has no long text: $description"
pass "control: $(field Package) $(field Version) $(field Architecture), section $(field Section); Depends: $depends"

# The desktop's caches are refreshed through triggers.
dpkg-deb --ctrl-tarfile "$deb" | tar -x -C "$scratch" ./triggers 2>/dev/null || true
for folder in /usr/share/applications /usr/share/mime/packages /usr/share/icons/hicolor; do
    grep -qx "activate-noawait $folder" "$scratch/triggers" 2>/dev/null ||
        fail "the package does not activate the trigger of $folder"
done
pass "triggers for the desktop database, the MIME cache and the icon cache"

# The contents list.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's:^\./:/:' >"$scratch/contents"
expect=(/usr/share/applications/$ODOMIRA_DESKTOP_ID.desktop /usr/share/mime/packages/odomira.xml
    /usr/share/metainfo/$ODOMIRA_APP_ID.metainfo.xml /usr/share/icons/hicolor/scalable/apps/odomira.svg
    /usr/share/doc/odomira/manual/index.html /usr/share/man/man1/odomira-cli.1.gz)
for program in "${programs[@]}"; do
    expect+=("/usr/bin/$program")
done
for file in "${expect[@]}"; do
    grep -qx "$file" "$scratch/contents" || fail "the package does not hold $file"
done
grep -q '/libVarkoPrintersExt\.so\.[0-9]*$' "$scratch/contents" || fail "the package does not hold the printer library"
grep -q '/libVarkoUSB\.so$' "$scratch/contents" || fail "the package does not hold libVarkoUSB.so"
pass "dpkg-deb -c: $(wc -l <"$scratch/contents") entries, programs, libraries, manual and desktop files present"

# Unpacked anywhere, the programs run and find their libraries inside the package.
tree=$scratch/unpacked
dpkg-deb -x "$deb" "$tree"
check_program_runs "$tree"
for program in "${programs[@]}"; do
    if file "$tree/usr/bin/$program" | grep -q 'not stripped'; then
        fail "$program is not stripped"
    fi
done

finish
