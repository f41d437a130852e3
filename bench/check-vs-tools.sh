#!/usr/bin/env bash
# orvelle-harvest --check next to linkchecker and wget2 --spider: LINKS distinct
# links over HOSTS loopback hosts (one port each, bench/check-server.py), the
# last SLOW of them answering every request after DELAY_MS. The links stand on
# PAGES pages of the first host, every page given to each program. Each program
# gets the same number of requests at once (CONCURRENT); orvelle-harvest is also
# held to PER_HOST connections a host, which the others cannot be. Prints the
# seconds of each program, the requests the servers saw and the broken links it
# reported. Every run is cut off after RUN_LIMIT seconds.
#
#   bench/check-vs-tools.sh [path/to/orvelle-harvest]
#
# Environment: LINKS (10000), HOSTS (50), PAGES (20), SLOW (10), DELAY_MS (300),
# CONCURRENT (64), PER_HOST (6), RUN_LIMIT (600), TOOLS ("orvelle linkchecker wget2").
# linkchecker is Debian's package of that name; a tool that is missing is skipped.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
harvest="${1:-$root/build/orvelle-harvest}"
links="${LINKS:-10000}"
hosts="${HOSTS:-50}"
pages="${PAGES:-20}"
slow="${SLOW:-10}"
delay="${DELAY_MS:-300}"
concurrent="${CONCURRENT:-64}"
perhost="${PER_HOST:-6}"
limit="${RUN_LIMIT:-600}"
tools="${TOOLS:-orvelle linkchecker wget2}"
case "$harvest" in */*) harvest="$(realpath "$harvest")" ;; esac

for tool in "$harvest" python3 timeout; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "check-vs-tools: $tool is missing (make build)" >&2
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

python3 "$root/bench/check-server.py" "$work/ports" "$work/log" "$hosts" "$links" "$pages" \
    "$slow" "$delay" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.1; done
first="$(head -1 "$work/ports")"
urls=()
for k in $(seq 0 $((pages - 1))); do urls+=("http://127.0.0.1:$first/links/$k.html"); done
expected_broken=0
for n in $(seq 0 $((links - 1))); do [ $((n % 20)) -eq 7 ] && expected_broken=$((expected_broken + 1)); done

printf '%d links over %d hosts (%d answering after %d ms), %d at once, %d per host\n' \
    "$links" "$hosts" "$slow" "$delay" "$concurrent" "$perhost"
printf '%-12s %9s %9s %8s\n' program seconds requests broken

run() {
    local name="$1"
    shift
    : >"$work/log"
    local start end status=0
    start="$(date +%s.%N)"
    (cd "$work" && timeout "$limit" "$@" >"$work/$name.out" 2>"$work/$name.err") || status=$?
    end="$(date +%s.%N)"
    local requests broken
    requests="$(wc -l <"$work/log")"
    case "$name" in
    orvelle) broken="$(grep -c . "$work/$name.out" || true)" ;;
    linkchecker) broken="$(grep -c 'Error: 404' "$work/$name.out" || true)" ;;
    # wget2 --spider says only that some answer was an error (exit 8).
    wget2) broken="-" ;;
    esac
    printf '%-12s %9.2f %9d %8s' "$name" "$(echo "$end - $start" | bc)" "$requests" "$broken"
    if [ "$status" -eq 124 ]; then printf '  (cut off after %s s)' "$limit"; fi
    if [ "$status" -ne 0 ] && [ "$status" -ne 124 ]; then printf '  (exit %d)' "$status"; fi
    printf '\n'
}

for tool in $tools; do
    case "$tool" in
    orvelle)
        # Exit 3: broken links were found, as they are.
        run orvelle "$harvest" -q --check --parallel "$concurrent" --per-host "$perhost" \
            --retries 0 "${urls[@]}" || true
        ;;
    linkchecker)
        if command -v linkchecker >/dev/null 2>&1; then
            run linkchecker linkchecker --no-status --no-warnings --check-extern -r 1 \
                -t "$concurrent" -o text "${urls[@]}" || true
        else
            echo "linkchecker  missing (apt-get install linkchecker)"
        fi
        ;;
    wget2)
        if command -v wget2 >/dev/null 2>&1; then
            run wget2 wget2 --spider -r -l 1 -H --no-robots --max-threads "$concurrent" \
                --tries 1 -nv "${urls[@]}" || true
        else
            echo "wget2        missing"
        fi
        ;;
    esac
done
echo "expected broken: $expected_broken (404); $((links / 50)) links redirect once"
