#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# check_desktop.sh BUILD_DIR CMAKE: installs the build into a program folder
# whose name has a space, validates what the desktop reads, and puts the entry
# into private XDG folders twice and takes it away.
set -eu
build="$1"
cmake="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/My Tolvane"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
entry="$prefix/share/applications/org.osk.Tolvane.desktop"
[ -f "$entry" ] || fail "no desktop entry installed"
desktop-file-validate "$entry" | grep -v ' hint: ' | grep . && fail "desktop-file-validate complained"
grep -Fqx "Exec=\"$prefix/tolvane\" %F" "$entry" || fail "Exec does not name the installed program: $(grep ^Exec= "$entry")"
grep -Fqx "Path=$prefix" "$entry" || fail "Path is not the program folder: $(grep ^Path= "$entry")"
grep -q '^MimeType=.*application/pdf;' "$entry" || fail "PDF files are not offered"
appstreamcli validate --no-net "$prefix/share/metainfo/org.osk.Tolvane.metainfo.xml" >/dev/null \
    || fail "appstreamcli validate failed"
for size in 16x16 32x32 48x48 64x64 128x128 256x256; do
    [ -s "$prefix/share/icons/hicolor/$size/apps/org.osk.Tolvane.png" ] || fail "no $size icon"
done
[ -s "$prefix/share/icons/hicolor/scalable/apps/org.osk.Tolvane.svg" ] || fail "no scalable icon"
# The program folder is the archive: its own folders are marked as no category.
for own in share manual; do
    [ -f "$prefix/$own/.tolvane-program-files" ] || fail "$own is not marked as the program's own"
done
[ -s "$prefix/manual/main.png" ] || fail "the manual's pictures are not installed"
[ -s "$prefix/share/man/man1/tolvane-batch.1" ] || fail "no manual page"
# Text recognition is a module the programs load from there.
module="$prefix/share/tolvane/tolvane-tesseract.so"
[ -s "$module" ] || fail "the recognition module is not installed"
! ldd "$module" | grep -q 'not found' || fail "the recognition module's libraries are not found"
# So are tolvane-batch's commands (all but process of a JPEG, TIFF or BMP).
commands="$prefix/share/tolvane/tolvane-batch-commands.so"
[ -s "$commands" ] || fail "the commands module is not installed"
! ldd "$commands" | grep -q 'not found' || fail "the commands module's libraries are not found"
"$prefix/tolvane-batch" --help > /dev/null || fail "the installed tolvane-batch does not find its commands"

# The user's folders: an older entry from elsewhere is replaced, not doubled.
export XDG_DATA_HOME="$work/data"
mkdir -p "$XDG_DATA_HOME/applications"
sed 's|^Path=.*|Path=/old/place|' "$entry" > "$XDG_DATA_HOME/applications/org.osk.Tolvane.desktop"
installer="$prefix/share/tolvane/install-desktop.sh"
"$installer" "$prefix"
"$installer" "$prefix"
[ "$(ls "$XDG_DATA_HOME/applications" | grep -c Tolvane)" -eq 1 ] || fail "the entry is there more than once"
cmp -s "$entry" "$XDG_DATA_HOME/applications/org.osk.Tolvane.desktop" || fail "the older entry was not replaced"
[ -s "$XDG_DATA_HOME/icons/hicolor/48x48/apps/org.osk.Tolvane.png" ] || fail "no icon in the user's theme"
"$installer" --remove
[ ! -e "$XDG_DATA_HOME/applications/org.osk.Tolvane.desktop" ] || fail "--remove left the entry"
[ -z "$(find "$XDG_DATA_HOME/icons" -name 'org.osk.Tolvane.*')" ] || fail "--remove left an icon"
echo "desktop entry, icons and metainfo fine"
