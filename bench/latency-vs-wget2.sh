#!/usr/bin/env bash
# orvelle-harvest next to wget2 and wget over a site that answers every request
# after a delay, as a distant one does: a threaded HTTP/1.1 keep-alive server on
# a loopback port (bench/latency-server.py), started and stopped by this script.
# Three site shapes: a tree (page N links to 3N+1..3N+3), a chain (page N links
# to N+1..N+3 and to page 0) and a list of addresses without recursion. Prints
# the pages per second of each program and the ratios.
#
#   bench/latency-vs-wget2.sh [path/to/orvelle-harvest]
#
# Environment: PAGES (default 450) pages of the tree and the chain, LISTED
# (default 300) addresses of the list, DELAY_MS (default 50).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
harvest="${1:-$root/build/orvelle-harvest}"
pages="${PAGES:-450}"
listed="${LISTED:-300}"
delay="${DELAY_MS:-50}"

for tool in "$harvest" python3 wget2 wget; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "latency-vs-wget2: $tool is missing (make build; apt-get install python3 wget2 wget)" >&2
        exit 2
    fi
done

work="$(mktemp -d)"
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

python3 "$root/bench/latency-server.py" "$work/port" "$work/requests.log" \
    "$(( pages > listed ? pages : listed ))" "$delay" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port="$(cat "$work/port")"
base="http://127.0.0.1:$port"
for n in $(seq 0 $(( listed - 1 ))); do echo "$base/list/$n.html"; done >"$work/list.txt"
export no_proxy='*'

# Runs a command in a scratch folder; prints "seconds requests".
measure() {
    local before after start end
    before=$(wc -l <"$work/requests.log" 2>/dev/null || echo 0)
    rm -rf "$work/run" && mkdir "$work/run"
    start=$(date +%s.%N)
    (cd "$work/run" && "$@" >/dev/null 2>&1) || true
    end=$(date +%s.%N)
    after=$(wc -l <"$work/requests.log")
    echo "$(echo "$end - $start" | bc -l) $(( after - before ))"
}

declare -A rate
run() { # name shape command...
    local name="$1" shape="$2"
    shift 2
    read -r seconds requests < <(measure "$@")
    rate["$name/$shape"]=$(echo "$requests / $seconds" | bc -l)
    printf '%-22s %-6s %5d requests %7.2f s %8.1f pages/s\n' "$name" "$shape" "$requests" "$seconds" \
        "${rate["$name/$shape"]}"
}

echo "delay ${delay} ms per response; tree and chain of $pages pages, list of $listed addresses"
for shape in tree chain; do
    start_url="$base/$shape/0.html"
    run "orvelle" "$shape" "$harvest" -q --forever "$start_url"
    run "orvelle --parallel 1" "$shape" "$harvest" -q --forever --parallel 1 "$start_url"
    run "wget2" "$shape" wget2 -q --recursive --level=inf --delete-after -nd --no-robots "$start_url"
    run "wget" "$shape" wget -q --recursive --level=inf --delete-after -nd -e robots=off "$start_url"
done
run "orvelle" "list" "$harvest" -q -i "$work/list.txt"
run "orvelle --parallel 1" "list" "$harvest" -q --parallel 1 -i "$work/list.txt"
run "wget2" "list" wget2 -q --delete-after -nd -i "$work/list.txt"
run "wget" "list" wget -q --delete-after -nd -i "$work/list.txt"

echo
for shape in tree chain list; do
    printf '%-6s orvelle / wget2 %5.2f   orvelle / wget %5.2f   orvelle / --parallel 1 %5.2f\n' "$shape" \
        "$(echo "${rate["orvelle/$shape"]} / ${rate["wget2/$shape"]}" | bc -l)" \
        "$(echo "${rate["orvelle/$shape"]} / ${rate["wget/$shape"]}" | bc -l)" \
        "$(echo "${rate["orvelle/$shape"]} / ${rate["orvelle --parallel 1/$shape"]}" | bc -l)"
done
