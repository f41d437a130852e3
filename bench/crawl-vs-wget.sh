#!/usr/bin/env bash
# orvelle-harvest --forever next to wget --recursive --spider over the same site:
# a generated site of linked pages, served by nginx on a loopback port that this
# script starts and stops. Prints the pages per second of each and their ratio.
#
#   bench/crawl-vs-wget.sh [path/to/orvelle-harvest]
#
# Environment: PAGES (default 5000), the number of pages of the site.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
harvest="${1:-$root/build/orvelle-harvest}"
pages="${PAGES:-5000}"

for tool in "$harvest" /usr/sbin/nginx wget awk; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "crawl-vs-wget: $tool is missing (make build; scripts/install-deps)" >&2
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

# The nginx workers may run as another user: they must be able to read the site.
chmod 755 "$work"
mkdir -p "$work/site/p" "$work/logs" "$work/tmp" "$work/wget" "$work/orvelle"

. "$root/bench/loopback-nginx.sh"
write_site "$pages" "$work/site/p"
chmod -R a+rX "$work/site"
find "$work/site/p" -name "*.html" -exec cat {} + >/dev/null # into the page cache before either crawler

start_loopback_nginx crawl-vs-wget
site="http://127.0.0.1:$port/p/0.html"
export no_proxy='*' NO_PROXY='*'
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

now() { echo "$EPOCHREALTIME"; }
log_lines() { wc -l <"$work/logs/access.log"; }
# Distinct pages served whole (GET, 200) after the first $1 lines of the log;
# wget --spider asks for each page twice (HEAD, then GET), which counts once.
pages_served() {
    tail -n +"$(($1 + 1))" "$work/logs/access.log" |
        awk '$1 == 200 && $2 == "GET" && $3 ~ /^\/p\// && !seen[$3]++ { n++ } END { print n + 0 }'
}

# Runs one crawler; sets seconds, visited (distinct pages) and requests.
measure() {
    local before t0 t1
    before="$(log_lines)"
    t0="$(now)"
    "$@"
    t1="$(now)"
    visited="$(pages_served "$before")"
    requests=$(($(log_lines) - before))
    seconds="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')"
}

rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }'; }

echo "site: $pages pages at $site (nginx $(/usr/sbin/nginx -v 2>&1 | sed 's/.*\///'))"

run_orvelle() {
    TMPDIR="$work/orvelle" "$harvest" --forever --quiet "$site" >"$work/orvelle/results.txt"
}
run_wget() {
    (cd "$work/wget" && wget --recursive --level=inf --spider --no-verbose "$site" 2>"$work/wget/log.txt") ||
        true # wget --spider exits 8 when any link (robots.txt) answered 404
}

measure run_orvelle
orvelle_pages="$visited" orvelle_seconds="$seconds"
orvelle_rate="$(rate "$visited" "$seconds")"
printf 'orvelle-harvest --forever: %5d pages in %7.3f s: %6d pages/s (%d requests, %d results)\n' \
    "$orvelle_pages" "$orvelle_seconds" "$orvelle_rate" "$requests" "$(wc -l <"$work/orvelle/results.txt")"

measure run_wget
wget_pages="$visited" wget_seconds="$seconds"
wget_rate="$(rate "$visited" "$seconds")"
printf 'wget --recursive --spider: %5d pages in %7.3f s: %6d pages/s (%d requests)\n' \
    "$wget_pages" "$wget_seconds" "$wget_rate" "$requests"

awk -v o="$orvelle_rate" -v w="$wget_rate" \
    'BEGIN { printf "ratio (orvelle-harvest / wget): %.2f\n", (w > 0 ? o / w : 0) }'
if [ "$orvelle_pages" -lt "$pages" ] || [ "$wget_pages" -lt "$pages" ]; then
    echo "crawl-vs-wget: a crawler missed pages (orvelle-harvest $orvelle_pages, wget $wget_pages of $pages)" >&2
    exit 1
fi
