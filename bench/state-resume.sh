#!/usr/bin/env bash
# What --state costs and what it keeps: the crawl of bench/crawl-vs-wget.sh's
# site (served by nginx on a loopback port this script starts and stops) with and
# without a state file; the same crawl killed with SIGKILL at random moments and
# resumed each time, whose final output must equal the uninterrupted run's byte
# for byte; and a long chain of pages, for the peak memory and the size of the
# state file per page.
#
#   bench/state-resume.sh [path/to/orvelle-harvest]
#
# Environment: PAGES (5000), KILLS (10), CHAIN (50000), RUNS (3: the best time counts).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
harvest="${1:-$root/build/orvelle-harvest}"
pages="${PAGES:-5000}"
kills="${KILLS:-10}"
chain="${CHAIN:-50000}"
runs="${RUNS:-3}"

for tool in "$harvest" /usr/sbin/nginx /usr/bin/time awk cmp; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "state-resume: $tool is missing (make build; scripts/install-deps)" >&2
        exit 2
    fi
done

work="$(mktemp -d)"
nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
        kill -QUIT "$nginx_pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

chmod 755 "$work"
mkdir -p "$work/site/p" "$work/site/c" "$work/logs" "$work/tmp" "$work/out"

# The site of crawl-vs-wget.sh.
. "$root/bench/loopback-nginx.sh"
write_site "$pages" "$work/site/p"
# The chain: page N links to page N+1 only.
awk -v pages="$chain" -v dir="$work/site/c" 'BEGIN {
    for (n = 0; n < pages; n++) {
        file = dir "/" n ".html"
        printf "<html><body><h1>Page %d</h1>", n > file
        if (n + 1 < pages) printf "<a href=\"%d.html\">next</a>", n + 1 > file
        printf "</body></html>\n" > file
        close(file)
    }
}'
chmod -R a+rX "$work/site"

start_loopback_nginx state-resume
site="http://127.0.0.1:$port/p/0.html"
export no_proxy='*' NO_PROXY='*' TMPDIR="$work/tmp"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

log_lines() { wc -l <"$work/logs/access.log"; }
seconds_of() {
    local t0="$EPOCHREALTIME"
    "$@"
    awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
best() { printf '%s\n' "$@" | sort -n | head -1; }

echo "site: $pages pages at $site"
crawl() { "$harvest" --forever --quiet "$site" "$@"; }

# The processor time of a crawl (user and system seconds), into cpu_of's file.
cpu_of() {
    local into="$1"
    shift
    /usr/bin/time -f '%U %S' -o "$work/cpu" "$@"
    awk '{ printf "%.3f\n", $1 + $2 }' "$work/cpu" >>"$into"
}
plain=() stated=()
: >"$work/cpu-plain"
: >"$work/cpu-stated"
for _ in $(seq "$runs"); do
    plain+=("$(seconds_of cpu_of "$work/cpu-plain" "$harvest" --forever --quiet "$site" \
        -o "$work/out/plain.txt")")
    rm -f "$work/s.state"
    stated+=("$(seconds_of cpu_of "$work/cpu-stated" "$harvest" --forever --quiet "$site" \
        --state "$work/s.state" -o "$work/out/stated.txt")")
done
pc="$(sort -n "$work/cpu-plain" | head -1)" sc="$(sort -n "$work/cpu-stated" | head -1)"
printf 'processor time: without --state %s s, with %s s (best of %d): %s %%\n' "$pc" "$sc" \
    "$runs" "$(awk -v p="$pc" -v s="$sc" 'BEGIN { printf "%+.1f", (s / p - 1) * 100 }')"
cmp -s "$work/out/plain.txt" "$work/out/stated.txt" || { echo "state-resume: outputs differ" >&2; exit 1; }
p="$(best "${plain[@]}")" s="$(best "${stated[@]}")"
printf 'without --state: %s s; with --state: %s s (best of %d); cost %s %%; state file %d bytes\n' \
    "$p" "$s" "$runs" "$(awk -v p="$p" -v s="$s" 'BEGIN { printf "%+.1f", (s / p - 1) * 100 }')" \
    "$(stat -c %s "$work/s.state")"

# Killed at random moments within what is left of the run, resumed each time.
rm -f "$work/s.state" "$work/out/resumed.txt"
before="$(log_lines)"
max_repeat=0 total_repeat=0
for k in $(seq "$kills"); do
    # A moment within the uninterrupted run's time, past the start-up.
    delay="$(awk -v p="$p" -v r="$RANDOM" 'BEGIN { printf "%.3f", 0.05 + (p * 0.9) * r / 32767 }')"
    from="$(log_lines)"
    "$harvest" --forever --quiet "$site" --state "$work/s.state" -o "$work/out/resumed.txt" &
    pid=$!
    sleep "$delay"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    asked=$(($(log_lines) - from))
    committed=""
    if command -v sqlite3 >/dev/null; then
        committed=", $(sqlite3 "$work/s.state" 'SELECT count(*) FROM visits') visits committed"
    fi
    echo "kill $k after $delay s: $asked requests$committed"
done
crawl --state "$work/s.state" -o "$work/out/resumed.txt"
requests=$(($(log_lines) - before))
repeated=$((requests - pages))
if cmp -s "$work/out/plain.txt" "$work/out/resumed.txt"; then same=identical; else same=DIFFERENT; fi
printf 'after %d kills: output %s to the uninterrupted run; %d requests in all, %d repeated (%.0f a kill)\n' \
    "$kills" "$same" "$requests" "$repeated" "$(awk -v r="$repeated" -v k="$kills" 'BEGIN { print r / k }')"

# The finished file, written again without a request: the speed of the replay.
from="$(log_lines)"
again="$(seconds_of crawl --state "$work/s.state" -o "$work/out/again.txt")"
cmp -s "$work/out/plain.txt" "$work/out/again.txt" || { echo "state-resume: replay differs" >&2; exit 1; }
printf 'finished state written again: %s s, %d requests\n' "$again" $(($(log_lines) - from))

# The chain: peak memory and the size of the state file per page.
rm -f "$work/c.state"
rss="$( { /usr/bin/time -f '%M' "$harvest" --forever --quiet --state "$work/c.state" \
    "http://127.0.0.1:$port/c/0.html" >/dev/null; } 2>&1 | tail -1)"
size="$(stat -c %s "$work/c.state")"
printf 'chain of %d pages with --state: peak RSS %.1f MB; state file %d bytes, %.0f bytes a page\n' \
    "$chain" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$size" \
    "$(awk -v s="$size" -v n="$chain" 'BEGIN { print s / n }')"
[ "$same" = identical ]
