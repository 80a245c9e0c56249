#!/usr/bin/env bash
# cmake --install into a temporary DESTDIR: the programs run from there and find their
# libraries, the manual is where the program looks for it, and the desktop files pass
# the desktop's own validators.
source "$(dirname "$0")/common.sh"
need_tools cmake ldd readelf desktop-file-validate appstreamcli update-mime-database gzip \
    lexgrog /usr/bin/python3

tree=$scratch/root
install_tree "$tree"
usr=$tree/usr
share=$usr/share

check_program_runs "$tree"

# The manual, where the program looks for it, with every page, picture and style sheet
# it refers to.
manual=$usr/bin/$manual_from_bin
if [[ ! -f $manual ]]; then
    fail "the manual is not at bin/$manual_from_bin"
elif ! broken=$(/usr/bin/python3 "$(dirname "$0")/local-links.py" "$(dirname "$manual")"); then
    fail "the installed manual refers to files that are not there: $broken"
else
    pass "manual at bin/$manual_from_bin, $(ls "$(dirname "$manual")"/*.html | wc -l) pages, no broken links"
fi
[[ -f $share/doc/odomira/manual/index.html ]] || fail "the documentation folder does not lead to the manual"

# Desktop entry: valid, starts the program with the file, and claims the file type.
desktop=$share/applications/$ODOMIRA_DESKTOP_ID.desktop
if [[ ! -f $desktop ]]; then
    fail "no desktop entry $ODOMIRA_DESKTOP_ID.desktop"
else
    if out=$(desktop-file-validate "$desktop" 2>&1) && [[ -z $out ]]; then
        pass "desktop-file-validate $ODOMIRA_DESKTOP_ID.desktop"
    else
        fail "desktop-file-validate: $out"
    fi
    grep -qx 'Exec=odomira %f' "$desktop" || fail "the desktop entry does not run 'odomira %f'"
    grep -q "^MimeType=.*$mime_type;" "$desktop" || fail "the desktop entry does not claim $mime_type"
    grep -qx 'Icon=odomira' "$desktop" || fail "the desktop entry does not use the icon odomira"
fi

# File type: the database accepts it and matches *.vps by name alone.
if [[ ! -f $share/mime/packages/odomira.xml ]]; then
    fail "no shared-mime-info package mime/packages/odomira.xml"
else
    mkdir -p "$scratch/mime/packages"
    cp "$share/mime/packages/odomira.xml" "$scratch/mime/packages/"
    # It reports a file it cannot read on standard error but still exits with 0; with its
    # folder on the search path it has nothing else to say.
    out=$(XDG_DATA_DIRS=$scratch XDG_DATA_HOME=$scratch update-mime-database "$scratch/mime" 2>&1)
    if [[ -n $out ]]; then
        fail "update-mime-database: $out"
    elif grep -qx "[0-9]*:$mime_type:\*\.vps" "$scratch/mime/globs2"; then
        pass "*.vps is $mime_type"
    else
        fail "the MIME database does not map *.vps to $mime_type"
    fi
    if grep -q '<magic' "$share/mime/packages/odomira.xml"; then
        fail "the file type claims magic, but the files have none"
    fi
fi

# Icons: the scalable one and every PNG size, each really of its size.
[[ -f $share/icons/hicolor/scalable/apps/odomira.svg ]] || fail "no scalable icon"
for size in $ODOMIRA_ICON_SIZES; do
    png=$share/icons/hicolor/${size}x${size}/apps/odomira.png
    if [[ ! -f $png ]]; then
        fail "no ${size}x${size} icon"
        continue
    fi
    got=$(/usr/bin/python3 -c 'import struct,sys
d=open(sys.argv[1],"rb").read(24)
print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not a PNG")' "$png")
    [[ $got == "${size}x${size}" ]] || fail "icon ${size}x${size}/apps/odomira.png is $got"
done
pass "icons: scalable and $ODOMIRA_ICON_SIZES"

# AppStream: valid offline, and it launches the desktop entry that is installed.
metainfo=$share/metainfo/$ODOMIRA_APP_ID.metainfo.xml
if [[ ! -f $metainfo ]]; then
    fail "no AppStream file $ODOMIRA_APP_ID.metainfo.xml"
elif ! out=$(appstreamcli validate --no-net "$metainfo" 2>&1); then
    fail "appstreamcli validate --no-net: $out"
else
    pass "appstreamcli validate --no-net $ODOMIRA_APP_ID.metainfo.xml"
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    [[ -f $share/applications/$launchable ]] || fail "the AppStream file launches '$launchable', which is not installed"
fi

# Manual pages: compressed, readable, with a NAME section for whatis.
for page in odomira odomira-cli odomira-printer-sim; do
    gz=$share/man/man1/$page.1.gz
    if [[ ! -f $gz ]]; then
        fail "no manual page man1/$page.1.gz"
    elif ! gzip -t "$gz"; then
        fail "man1/$page.1.gz is not a valid gzip file"
    elif ! lexgrog "$gz" | grep -q "\"$page - "; then
        fail "man1/$page.1.gz has no NAME line for $page"
    fi
done
pass "manual pages"

finish
