#!/usr/bin/env bash
# The manual pages as man shows them: orvelle-harvest(1) has every option of the
# program's --help and the exit statuses, orvelle(1) every option of the window's
# --help and its exit statuses; both pages render without a warning.
# Usage: manpages.sh MAN-FOLDER ORVELLE-HARVEST [ORVELLE]
set -uo pipefail
man_dir=$1
program=$2
window=${3:-}
pages=(orvelle-harvest)
[ -n "$window" ] && pages+=(orvelle)
if ! command -v man >/dev/null; then
    echo "SKIP: man is not installed (scripts/install-deps --packaging)"
    exit 77
fi

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The page as text, one paragraph a line; man's warnings go to the file $2.
render() {
    MANWIDTH=1000 LC_ALL=C.UTF-8 man --warnings -E ascii -l "$1" 2>"$2" | col -b |
        sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//'
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for page in "${pages[@]}"; do
    file=$man_dir/$page.1.gz
    if [ ! -f "$file" ]; then
        fail "$file was not built"
        continue
    fi
    text=$(render "$file" "$scratch/$page.warnings")
    [ -s "$scratch/$page.warnings" ] && fail "$page(1): man warns: $(cat "$scratch/$page.warnings")"
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
        grep -qx "$section" <<<"$text" || fail "$page(1) has no $section section"
    done
    grep -qx "$page - .*" <<<"$text" || fail "$page(1): no '$page - ...' line under NAME"
    printf '%s\n' "$text" >"$scratch/$page.txt"
done

# Every option line of --help ("-i, --input <FILE>") is an entry of the page.
help=$("$program" --help) || fail "$program --help"
count=0
while IFS= read -r entry; do
    count=$((count + 1))
    grep -qxF -- "$entry" "$scratch/orvelle-harvest.txt" ||
        fail "orvelle-harvest(1) has no entry '$entry'"
done < <(printf '%s\n' "$help" | grep -E '^  -' | sed -E 's/^  //; s/  +[^ ].*$//')
[ "$count" -ge 10 ] || fail "only $count options read from --help"
for status in 0 1 2 130; do
    sed -n '/^EXIT STATUS$/,/^[A-Z][A-Z ]*$/p' "$scratch/orvelle-harvest.txt" |
        grep -qE "^$status([[:space:]]|$)" ||
        fail "orvelle-harvest(1): exit status $status is not described"
done
grep -qF -- "$("$program" --version)" "$scratch/orvelle-harvest.txt" ||
    fail "orvelle-harvest(1) does not name the version"

# The window: the options of its --help (the block under "Options:") and its
# exit statuses, and its version.
if [ -n "$window" ]; then
    help=$("$window" --help) || fail "$window --help"
    window_count=0
    while IFS= read -r entry; do
        window_count=$((window_count + 1))
        # A short entry ("--") shares its line with the start of its text.
        awk -v e="$entry" 'index($0, e) == 1 && substr($0, length(e) + 1, 1) ~ /^([ \t]|)$/ \
            { found = 1 } END { exit !found }' "$scratch/orvelle.txt" ||
            fail "orvelle(1) has no entry '$entry'"
    done < <(printf '%s\n' "$help" | sed -n '/^Options:$/,/^$/p' | grep -E '^  -' |
        sed -E 's/^  //; s/  +[^ ].*$//')
    [ "$window_count" -ge 3 ] || fail "only $window_count options read from orvelle --help"
    for status in 0 2; do
        sed -n '/^EXIT STATUS$/,/^[A-Z][A-Z ]*$/p' "$scratch/orvelle.txt" |
            grep -qE "^$status([[:space:]]|$)" ||
            fail "orvelle(1): exit status $status is not described"
    done
    grep -q "ADDRESS" "$scratch/orvelle.txt" || fail "orvelle(1) does not name the addresses"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "manual pages: $count options of --help in orvelle-harvest(1), no warning from man"
