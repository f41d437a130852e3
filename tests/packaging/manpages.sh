#!/usr/bin/env bash
# The manual pages as man shows them: orvelle-harvest(1) has every option of the
# program's --help and the exit statuses; both pages render without a warning.
# Usage: manpages.sh MAN-FOLDER ORVELLE-HARVEST PAGE... (orvelle-harvest, orvelle)
set -uo pipefail
man_dir=$1
program=$2
shift 2
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

for page in "$@"; do
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

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "manual pages: $count options of --help in orvelle-harvest(1), no warning from man"
