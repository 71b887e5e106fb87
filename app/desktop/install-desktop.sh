#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop entry and the icon of an installed program folder in the user's
# own XDG folders, so that the desktop's menu and "Open with" know Tolvane.
#   install-desktop.sh PROGRAM_FOLDER   put them there, replacing older ones
#   install-desktop.sh --remove         take them away again
set -eu
data="${XDG_DATA_HOME:-$HOME/.local/share}"
apps="$data/applications"
icons="$data/icons/hicolor"
id=org.osk.Tolvane

remove() {
    rm -f "$apps/$id.desktop"
    for f in "$icons"/*/apps/"$id".png "$icons"/*/apps/"$id".svg; do
        [ -e "$f" ] && rm -f "$f"
    done
    return 0
}

refresh() {
    command -v update-desktop-database >/dev/null 2>&1 && update-desktop-database -q "$apps" 2>/dev/null || true
    command -v gtk-update-icon-cache >/dev/null 2>&1 && gtk-update-icon-cache -q -t "$icons" 2>/dev/null || true
}

case "${1:-}" in
--remove)
    remove
    refresh
    ;;
"")
    echo "usage: $0 PROGRAM_FOLDER | --remove" >&2
    exit 2
    ;;
*)
    from="$1/share"
    [ -f "$from/applications/$id.desktop" ] || { echo "$0: no $id.desktop under $from" >&2; exit 1; }
    remove
    mkdir -p "$apps" "$icons"
    cp "$from/applications/$id.desktop" "$apps/$id.desktop"
    cp -R "$from/icons/hicolor/." "$icons/"
    refresh
    ;;
esac
