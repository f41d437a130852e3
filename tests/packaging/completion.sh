#!/usr/bin/env bash
# The bash completion of orvelle-harvest, in bash with bash-completion loaded:
# every option of the program's --help, the values of --format and --quotes, and
# files after -i and -o.
# Usage: completion.sh COMPLETION-FILE ORVELLE-HARVEST
set -uo pipefail
completion=$1
program=$2
helpers=/usr/share/bash-completion/bash_completion
if [ ! -r "$helpers" ]; then
    echo "SKIP: bash-completion is not installed (scripts/install-deps --packaging)"
    exit 77
fi
# bash_completion reads unset variables and returns non-zero on its way.
set +u
# shellcheck source=/dev/null
. "$helpers"
# shellcheck source=/dev/null
. "$completion"
set -u

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The words on the line after the program, split as bash splits them (an "="
# is a word of its own), the last one being completed. Prints the candidates,
# sorted, on one line.
complete_words() {
    COMP_WORDS=("$program" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$program"
    local w
    for w in "$@"; do
        if [ "$w" = "=" ] || [ "${COMP_LINE: -1}" = "=" ]; then
            COMP_LINE+="$w"
        else
            COMP_LINE+=" $w"
        fi
    done
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _orvelle_harvest "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
    local want=$1
    shift
    local got
    got=$(complete_words "$@")
    [ "$got" = "$want" ] || fail "orvelle-harvest $* <TAB>: got '$got', want '$want'"
}

# The options as --help lists them, found here by other means than the
# completion's: the names before the description on each option line.
help=$("$program" --help) || { echo "FAIL: $program --help"; exit 1; }
options=$(printf '%s\n' "$help" | grep -E '^  -' | sed -E 's/  +[^ -].*$//; s/<[^>]*>//g' |
    grep -oE -- '--?[[:alnum:]][[:alnum:]-]*' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
for o in --input --output --format --files --forever --max-pages --max-time --max-page-size \
    --quiet --help --version; do
    [[ " $options " == *" $o "* ]] || fail "--help does not list $o: '$options'"
done
expect "$options" -
expect "$(printf '%s\n' $options | grep -- '^--f' | tr '\n' ' ' | sed 's/ $//')" --f
expect "--format" --form

expect "comma csv jsonl lines spaced" --format ""
expect "comma csv" --format c
expect "comma csv jsonl lines spaced" --format = ""
expect "comma csv" --format = c
if [[ " $options " == *" --quotes "* ]]; then
    expect "any double" --quotes ""
    expect "double" --quotes = d
fi

# Files after -i and -o, in whichever form; nothing after options that take a
# number, nor for a web address.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/lists"
touch "$scratch/urls.txt" "$scratch/lists/more.txt"
cd "$scratch" || exit 1
expect "lists urls.txt" -i ""
expect "lists urls.txt" --input ""
expect "urls.txt" --input = u
expect "lists urls.txt" -o ""
expect "urls.txt" www.example.com --output u
expect "lists urls.txt" -qi ""
expect "" --max-pages ""
expect "" --max-page-size ""
expect "" --max-time 1
expect "--max-page-size --max-pages --max-retry-wait --max-time" --max-
expect "" --timeout 1
expect "" ww
expect "" --input urls.txt www.ex

# Options added to the program later come with its --help: a stand-in that
# prints today's help with two more options.
cat >"$scratch/orvelle-harvest" <<STANDIN
#!/bin/sh
"$program" "\$@"
[ "\$1" = --help ] && printf '%s\\n' \\
    '  -P, --later-value <N>  An option that takes a value.' \\
    '  --later-switch         An option without one.'
exit 0
STANDIN
chmod +x "$scratch/orvelle-harvest"
program=$scratch/orvelle-harvest
expect "--later-value" --later-v
expect "--later-switch" --later-s
expect "--same-host --same-site" --same
expect "any double" --quotes ""
expect "double" --quotes = d
expect "" -P ""
expect "comma csv" --format c

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "bash completion: every option of --help, the values, the files"
