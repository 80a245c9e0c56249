#!/usr/bin/env bash
# The Debian packages, as CI checks them: CPack builds them, lintian finds no error and no
# warning in them, dpkg-deb lists them and unpacks them into a temporary root, and the
# programs run from there, with their manual even when the documentation folder is gone.
source "$(dirname "$0")/common.sh"
need_tools cpack dpkg-deb dpkg-shlibdeps dpkg dpkg-parsechangelog lintian ldd readelf gzip \
    /usr/bin/python3

out=$scratch/out
if ! cpack --config "$ODOMIRA_BUILD_DIR/CPackConfig.cmake" -G DEB -B "$out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    fail "cpack -G DEB"
    finish
fi
arch=$(dpkg --print-architecture)
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
deb=$out/odomira_${ODOMIRA_VERSION}_$arch.deb
sim_deb=$out/odomira-printer-sim_${ODOMIRA_VERSION}_$arch.deb
for d in "$deb" "$sim_deb"; do
    if [[ ! -f $d ]]; then
        fail "cpack made no $(basename "$d"): $(ls "$out")"
        finish
    fi
done
made=$(find "$out" -maxdepth 1 -name '*.deb' | wc -l)
((made == 2)) || fail "cpack made $made packages, not 2: $(ls "$out")"
pass "cpack made $(basename "$deb") and $(basename "$sim_deb")"

# The control fields; Depends comes from dpkg-shlibdeps, so the libraries the programs
# link must be named there.
field() { dpkg-deb -f "$1" "$2"; }
has_dependency() { [[ ", $1," == *", $2 "* || ", $1," == *", $2,"* ]]; }
for d in "$deb" "$sim_deb"; do
    [[ $(field "$d" Version) == "$ODOMIRA_VERSION" ]] || fail "$(basename "$d"): Version is '$(field "$d" Version)'"
    [[ $(field "$d" Architecture) == "$arch" ]] || fail "$(basename "$d"): Architecture is '$(field "$d" Architecture)'"
    [[ $(field "$d" Section) == utils ]] || fail "$(basename "$d"): Section is '$(field "$d" Section)'"
    [[ -n $(field "$d" Maintainer) ]] || fail "$(basename "$d"): no Maintainer"
    [[ $(field "$d" Description | wc -l) -ge 3 ]] || fail "$(basename "$d"): the description has no long text"
done
[[ $(field "$deb" Package) == odomira ]] || fail "Package is '$(field "$deb" Package)'"
[[ $(field "$sim_deb" Package) == odomira-printer-sim ]] || fail "Package is '$(field "$sim_deb" Package)'"
depends=$(field "$deb" Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6; do
    has_dependency "$depends" "$lib" || fail "Depends lacks $lib: $depends"
done
[[ $depends != *odomira* && $depends != *varko* ]] || fail "Depends names our own libraries: $depends"
[[ $(field "$deb" Suggests) == *odomira-printer-sim* ]] || fail "odomira does not suggest odomira-printer-sim"
sim_depends=$(field "$sim_deb" Depends)
has_dependency "$sim_depends" libc6 || fail "odomira-printer-sim: Depends lacks libc6: $sim_depends"
[[ $sim_depends != *qt6* && $sim_depends != *odomira* ]] || fail "the simulator depends on more than it links: $sim_depends"
pass "control: Depends: $depends; simulator: $sim_depends"

# lintian as a Debian maintainer runs it. Errors and warnings fail; everything it says
# is shown. An override needs its reason as a comment on the line before it.
lintian_out=$scratch/lintian.out
lintian_status=0
lintian -EvIL +pedantic --fail-on error,warning "$deb" "$sim_deb" >"$lintian_out" 2>"$scratch/lintian.err" ||
    lintian_status=$?
grep -E '^[EWIPXO]: ' "$lintian_out" | sed 's/^/lintian: /' || true
if grep -qE '^[EW]: ' "$lintian_out" || ((lintian_status != 0)); then
    grep -v 'running with root privileges' "$scratch/lintian.err" >&2 || true
    fail "lintian reports errors or warnings (exit status $lintian_status)"
else
    pass "lintian: no error and no warning ($(grep -cE '^[IPX]: ' "$lintian_out") other tags)"
fi
# Infos that say the package is not built or laid out as Debian's own are: how the
# binaries are stripped, the manual's registration, and (in a build with Debian's
# flags; sanitizer builds have none) the hardening.
unwanted='binary-has-unneeded-section|possible-documentation-but-no-doc-base-registration'
[[ ${ODOMIRA_HARDENED:-0} == 1 ]] && unwanted+='|hardening-[a-z-]*'
if grep -E "^I: [^ ]+ ($unwanted)( |\$)" "$lintian_out" >&2; then
    fail "lintian reports the infos above"
fi

# The contents lists.
contents() { dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's:^\./:/:; s:/$::'; }
contents "$deb" >"$scratch/contents"
contents "$sim_deb" >"$scratch/sim-contents"
libdir=/usr/lib/$triplet/odomira
expect=(/usr/share/applications/$ODOMIRA_DESKTOP_ID.desktop /usr/share/mime/packages/odomira.xml
    /usr/share/metainfo/$ODOMIRA_APP_ID.metainfo.xml /usr/share/icons/hicolor/scalable/apps/odomira.svg
    /usr/share/odomira/manual/index.html /usr/share/doc/odomira/manual /usr/share/doc-base/odomira-manual
    /usr/share/doc/odomira/copyright /usr/share/doc/odomira/changelog.gz
    /usr/share/man/man1/odomira-cli.1.gz /usr/bin/odomira-cli "$libdir/libVarkoUSB.so")
[[ $ODOMIRA_HAS_APP == 1 ]] && expect+=(/usr/bin/odomira /usr/share/man/man1/odomira.1.gz)

# Files other work adds to the source tree are packaged where Debian looks for them: the
# systemd user units and the shell completion of odomira-cli.
while IFS= read -r unit; do
    expect+=("/usr/lib/systemd/user/$(basename "$unit")")
done < <(find "$ODOMIRA_SOURCE_DIR/data/systemd" -maxdepth 1 -type f \
    \( -name '*.service' -o -name '*.timer' -o -name '*.socket' -o -name '*.path' \) 2>/dev/null)
completions=$(find "$ODOMIRA_SOURCE_DIR/data" "$ODOMIRA_SOURCE_DIR/tools/cli" -type f -path '*completion*' 2>/dev/null || true)
if [[ -n $completions ]]; then
    expect+=(/usr/share/bash-completion/completions/odomira-cli)
fi
for file in "${expect[@]}"; do
    grep -qx "$file" "$scratch/contents" || fail "odomira does not hold $file"
done
grep -qx "$libdir/libVarkoPrintersExt\.so\.[0-9]*" "$scratch/contents" || fail "odomira does not hold the printer library in $libdir"
if grep -E '^/usr/lib/(odomira|libVarko)' "$scratch/contents"; then
    fail "libraries outside the multiarch folder"
fi
grep -q 'odomira-printer-sim' "$scratch/contents" && fail "odomira holds simulator files: $(grep printer-sim "$scratch/contents")"
for file in /usr/bin/odomira-printer-sim /usr/share/man/man1/odomira-printer-sim.1.gz \
    /usr/share/doc/odomira-printer-sim/copyright /usr/share/doc/odomira-printer-sim/changelog.gz; do
    grep -qx "$file" "$scratch/sim-contents" || fail "odomira-printer-sim does not hold $file"
done
pass "dpkg-deb -c: $(wc -l <"$scratch/contents") + $(wc -l <"$scratch/sim-contents") entries, every expected file in its package"

# Unpacked anywhere, the programs run and find their libraries inside the package.
tree=$scratch/unpacked
dpkg-deb -x "$deb" "$tree"
dpkg-deb -x "$sim_deb" "$tree"
check_program_runs "$tree"
for program in "${programs[@]}"; do
    if file "$tree/usr/bin/$program" | grep -q 'not stripped'; then
        fail "$program is not stripped"
    fi
done

# An override without the reason right above it hides a tag for no stated cause.
for overrides in "$tree"/usr/share/lintian/overrides/*; do
    [[ -f $overrides ]] || continue
    unexplained=$(awk '/^[^#[:space:]]/ && previous !~ /^#/ { print } { previous = $0 }' "$overrides")
    [[ -z $unexplained ]] || fail "lintian overrides without a reason in a comment above: $unexplained"
    pass "lintian overrides of $(basename "$overrides"), each with its reason: $(grep -c '^[^#[:space:]]' "$overrides")"
done

# One version everywhere, and one release date: the package's, the programs' (checked
# above), the manual pages', the AppStream release and the changelog's latest entry.
share=$tree/usr/share
for page in "$share"/man/man1/*.1.gz; do
    th=$(gzip -dc "$page" | grep -m1 '^\.TH ')
    [[ $th == *"\"$ODOMIRA_RELEASE_DATE\" \"Odomira $ODOMIRA_VERSION\""* ]] ||
        fail "$(basename "$page") is titled '$th', not for $ODOMIRA_VERSION of $ODOMIRA_RELEASE_DATE"
done
release=$(grep -m1 -o '<release [^>]*>' "$share/metainfo/$ODOMIRA_APP_ID.metainfo.xml")
[[ $release == "<release version=\"$ODOMIRA_VERSION\" date=\"$ODOMIRA_RELEASE_DATE\">" ]] ||
    fail "the AppStream data's latest release is $release"
for package in odomira odomira-printer-sim; do
    changelog=$share/doc/$package/changelog.gz
    if ! gzip -dc "$changelog" >"$scratch/changelog" 2>/dev/null; then
        fail "$package has no readable changelog"
        continue
    fi
    version=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
    date=$(date -u -d "$(dpkg-parsechangelog -l "$scratch/changelog" -S Date)" +%F)
    [[ $version == "$ODOMIRA_VERSION" && $date == "$ODOMIRA_RELEASE_DATE" ]] ||
        fail "$package's changelog starts with $version of $date"
done
pass "version $ODOMIRA_VERSION of $ODOMIRA_RELEASE_DATE in the control files, programs, manual pages, AppStream data and changelogs"

# The licence, in Debian's machine-readable form, in each package.
for package in odomira odomira-printer-sim; do
    copyright=$share/doc/$package/copyright
    if [[ ! -f $copyright ]]; then
        fail "$package has no copyright file"
    elif ! head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        ! grep -qx 'License: Expat' "$copyright" || ! grep -q '^Copyright: .*the Odomira authors' "$copyright"; then
        fail "$package's copyright file does not give the MIT (Expat) licence in the DEP-5 format"
    fi
done
pass "copyright: DEP-5, Expat, the Odomira authors"

# The manual: its documentation folder entry is a link, doc-base points at real files, and
# with /usr/share/doc removed, as minimal images do, it is still where the program looks.
link=$share/doc/odomira/manual
if [[ ! -L $link || $(readlink -f "$link") != "$(readlink -f "$share/odomira/manual")" ]]; then
    fail "/usr/share/doc/odomira/manual is not a link to /usr/share/odomira/manual"
fi
docbase=$share/doc-base/odomira-manual
for key in Index Files; do
    [[ -f $docbase ]] || break
    value=$(sed -n "s/^$key: //p" "$docbase")
    # Files: is a pattern.
    matched=$(cd "$tree" && { compgen -G ".$value" || true; } | wc -l)
    ((matched > 0)) || fail "doc-base's $key: '$value' names no installed file"
done
rm -rf "$share/doc"
manual=$tree/usr/bin/$manual_from_bin
if [[ ! -f $manual ]]; then
    fail "without /usr/share/doc the manual is not at bin/$manual_from_bin"
elif ! broken=$(/usr/bin/python3 "$(dirname "$0")/local-links.py" "$(dirname "$manual")"); then
    fail "the packaged manual refers to files that are not there: $broken"
else
    pass "without /usr/share/doc the manual is at bin/$manual_from_bin, doc-base and the doc link point at it"
fi

finish
