#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# check_manual.sh TOLVANE_BATCH MAN_PAGE MANUAL_HTML: the documentation has
# not drifted from the program. The manual page renders without a warning
# and names every command and every --option of tolvane-batch's usage text;
# the user manual names every command; its pictures are the screenshots the
# window tests make, each one shown, and each of its #links has its target.
set -u
batch="$1"
man="$2"
html="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The screenshots of the windows, made beside the manual in manual/.
pictures="manual/main.png manual/viewer.png manual/editor.png manual/options.png \
manual/search.png manual/select.png manual/newfolder.png manual/version.png"

for f in "$man" "$html"; do
    [ -s "$f" ] || { echo "FAIL: $f is missing or empty" >&2; exit 1; }
done

# The manual page renders without a warning.
if ! groff -man -ww -z -Tutf8 "$man" >"$work/warnings" 2>&1; then
    fail "groff cannot render $man"
fi
if [ -s "$work/warnings" ]; then
    fail "groff warns about $man:"
    cat "$work/warnings" >&2
fi
# As a reader sees it: plain ASCII, one paragraph a line (no line breaks or
# hyphens inside a word).
groff -man -Tascii -rLL=5000n -P-cbou "$man" >"$work/man.txt" 2>/dev/null

# The usage text: its first paragraph names the commands, one a line.
if ! "$batch" --help >"$work/usage"; then
    fail "'$batch --help' did not end with status 0"
fi
awk 'NF == 0 { exit } { print }' "$work/usage" \
    | sed -n 's/^.*tolvane-batch \([a-z][a-z0-9-]*\).*$/\1/p' | sort -u >"$work/commands"
if [ "$(wc -l <"$work/commands")" -lt 5 ]; then
    fail "the usage text names $(wc -l <"$work/commands") commands: has its form changed?"
fi
grep -o -- '--[a-z][a-z0-9-]*' "$work/usage" | sort -u >"$work/options"
if [ "$(wc -l <"$work/options")" -lt 10 ]; then
    fail "the usage text names $(wc -l <"$work/options") options: has its form changed?"
fi

# The manual as one line without its tags, and the tags themselves.
tr '\n\r' '  ' <"$html" >"$work/flat.html"
sed 's/<[^>]*>//g' "$work/flat.html" >"$work/manual.txt"

while read -r command; do
    grep -Eq "tolvane-batch $command([^a-z0-9-]|\$)" "$work/man.txt" \
        || fail "the manual page does not name 'tolvane-batch $command'"
    grep -Eq "tolvane-batch $command([^a-z0-9-]|\$)" "$work/manual.txt" \
        || fail "$html does not name 'tolvane-batch $command'"
done <"$work/commands"

while read -r option; do
    grep -Eq -- "(^|[^a-z0-9-])$option([^a-z0-9-]|\$)" "$work/man.txt" \
        || fail "the manual page does not name the option $option"
done <"$work/options"

# Pictures: each one of the screenshots, with a text for who cannot see it.
grep -o '<img[^>]*>' "$work/flat.html" >"$work/images" || true
while read -r tag; do
    src=$(printf '%s\n' "$tag" | sed -n 's/.* src="\([^"]*\)".*/\1/p')
    case " $pictures " in
    *" $src "*) ;;
    *) fail "a picture that is no screenshot of the window tests: $tag" ;;
    esac
    printf '%s\n' "$tag" | grep -q ' alt="[^"][^"]*"' || fail "a picture without its alt text: $tag"
done <"$work/images"
for picture in $pictures; do
    grep -q "src=\"$picture\"" "$work/images" || fail "$html does not show $picture"
done

# Links within the manual: each #target is an id, and no id is there twice.
grep -o ' id="[^"]*"' "$work/flat.html" | sed 's/ id="\(.*\)"/\1/' | sort >"$work/ids"
twice=$(uniq -d "$work/ids" | tr '\n' ' ')
[ -z "$twice" ] || fail "ids that are there more than once: $twice"
grep -o 'href="#[^"]*"' "$work/flat.html" | sed 's/href="#\(.*\)"/\1/' | sort -u >"$work/links"
[ -s "$work/links" ] || fail "$html has no table of contents"
while read -r target; do
    grep -qxF -- "$target" "$work/ids" || fail "the link #$target has no target in $html"
done <"$work/links"

if [ "$failures" -gt 0 ]; then
    echo "$failures finding(s) in the documentation" >&2
    exit 1
fi
echo "$(wc -l <"$work/commands") commands and $(wc -l <"$work/options") options documented;" \
    "$(wc -l <"$work/images") pictures and $(wc -l <"$work/links") links in place"
