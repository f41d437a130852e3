#!/usr/bin/env bash
# orvelle-harvest next to wget2 and wget over a site that answers every request
# after a delay, as a distant one does: threaded servers on loopback ports
# (bench/latency-server.py), started and stopped by this script.
#
# Site shapes: a tree (page N links to 3N+1..3N+3), a chain (page N links to
# N+1..N+3 and to page 0), a dense documentation site (a sidebar of 30 to 60
# links on every page, and previous and next) and a list of addresses without
# recursion. Servers:
#   http   HTTP/1.1 with keep-alive
#   close  HTTP/1.0 that closes the connection after every response
#   https  nginx with a certificate made for the run, passing to the http server:
#          "https" speaks HTTP/2 (ALPN h2), "https1" HTTP/1.1 only; the programs
#          trust the system's certificates and this one, as a bundle of their own
# Prints the pages per second of each program, the requests the server saw and
# the ratios. Every run is cut off after RUN_LIMIT seconds.
#
#   bench/latency-vs-wget2.sh [path/to/orvelle-harvest]
#
# Environment: PAGES (default 450) pages of the tree and the chain, DENSE
# (default 400) pages of the dense site, LISTED (default 300) addresses of the
# list, DELAY_MS (default 50), SERVERS (default "http close https https1"),
# SHAPES (default "tree chain dense list"), RUN_LIMIT (default 120).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
harvest="${1:-$root/build/orvelle-harvest}"
pages="${PAGES:-450}"
dense="${DENSE:-400}"
listed="${LISTED:-300}"
delay="${DELAY_MS:-50}"
servers="${SERVERS:-http close https https1}"
only="${SHAPES:-tree chain dense list}"
limit="${RUN_LIMIT:-120}"
# The runs start in a scratch folder.
case "$harvest" in */*) harvest="$(realpath "$harvest")" ;; esac

needed=("$harvest" python3 wget2 wget bc timeout)
case " $servers " in *" https"*) needed+=(/usr/sbin/nginx openssl) ;; esac
for tool in "${needed[@]}"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "latency-vs-wget2: $tool is missing (make build; scripts/install-deps)" >&2
        exit 2
    fi
done

work="$(mktemp -d)"
pids=()
nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill -QUIT "$nginx_pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$nginx_pid" 2>/dev/null || true
    fi
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
export no_proxy='*' NO_PROXY='*'
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

# Starts a delay server; its port goes to $work/NAME.port, its requests to $work/NAME.log.
start_server() { # name [--close]
    python3 "$root/bench/latency-server.py" "$work/$1.port" "$work/$1.log" \
        "$(( pages > listed ? pages : listed ))" "$delay" "$dense" "${@:2}" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/$1.port" ] && break; sleep 0.05; done
    [ -s "$work/$1.port" ] || { echo "latency-vs-wget2: the $1 server did not start" >&2; exit 1; }
    touch "$work/$1.log"
}
start_server http
start_server close --close

# nginx in the foreground of its own prefix, on two loopback ports, passing to
# the keep-alive server over kept-alive connections.
start_nginx() { # h2-port h1-port
    cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
    log_format connection '\$connection';
    access_log $work/nginx/access.log connection;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    keepalive_requests 1000000;
    upstream delay {
        server 127.0.0.1:$(cat "$work/http.port");
        keepalive 256;
    }
    server {
        listen 127.0.0.1:$1 ssl http2;
        listen 127.0.0.1:$2 ssl;
        ssl_certificate $work/nginx/cert.pem;
        ssl_certificate_key $work/nginx/key.pem;
        location / {
            proxy_pass http://delay;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
        }
    }
}
EOF
    rm -f "$work/nginx/error.log"
    /usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" \
        2>/dev/null &
    nginx_pid=$!
    for _ in $(seq 50); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -QUIT "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
    return 1
}
case " $servers " in *" https"*)
    mkdir "$work/nginx"
    # A certificate for 127.0.0.1 that is its own authority; the bundle of one
    # certificate is what the programs trust, nothing of the system's.
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
        -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
        -keyout "$work/nginx/key.pem" -out "$work/nginx/cert.pem" 2>/dev/null
    # Trusted as a system's store would be: its certificates and this one.
    cat /etc/ssl/certs/ca-certificates.crt "$work/nginx/cert.pem" >"$work/nginx/trusted.pem" \
        2>/dev/null || cp "$work/nginx/cert.pem" "$work/nginx/trusted.pem"
    for _ in $(seq 20); do
        h2=$((20000 + RANDOM % 40000)) h1=$((20000 + RANDOM % 40000))
        [ "$h1" != "$h2" ] || continue
        if (exec 3<>"/dev/tcp/127.0.0.1/$h2") 2>/dev/null ||
            (exec 3<>"/dev/tcp/127.0.0.1/$h1") 2>/dev/null; then continue; fi
        start_nginx "$h2" "$h1" && break
    done
    if [ -z "$nginx_pid" ]; then
        echo "latency-vs-wget2: nginx did not start:" >&2
        cat "$work/nginx/error.log" >&2 2>/dev/null || true
        exit 1
    fi
    ;;
esac

base_of() { # server
    case "$1" in
    http | close) echo "http://127.0.0.1:$(cat "$work/$1.port")" ;;
    https) echo "https://127.0.0.1:$h2" ;;
    https1) echo "https://127.0.0.1:$h1" ;;
    esac
}
log_of() { # server: the delay server that sees its requests
    case "$1" in close) echo "$work/close.log" ;; *) echo "$work/http.log" ;; esac
}
connections_of() { # server: where its connections are told apart
    case "$1" in https*) echo "$work/nginx/access.log" ;; *) log_of "$1" ;; esac
}
lines() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }
# The connections among the lines of a log after the first $2: the client port
# is the last field of the delay servers' lines, the connection number nginx's.
distinct() { tail -n +"$(( $2 + 1 ))" "$1" 2>/dev/null | awk '!seen[$NF]++ { n++ } END { print n + 0 }'; }

# Runs a command in a scratch folder; prints "seconds requests connections".
measure() { # log connection-log command...
    local log="$1" conns="$2" before cbefore after start end
    shift 2
    before=$(lines "$log")
    cbefore=$(lines "$conns")
    rm -rf "$work/run" && mkdir "$work/run"
    start=$EPOCHREALTIME
    (cd "$work/run" && timeout -k 5 "$limit" "$@" >/dev/null 2>&1) || true
    end=$EPOCHREALTIME
    after=$(lines "$log")
    echo "$(echo "$end - $start" | bc -l) $(( after - before )) $(distinct "$conns" "$cbefore")"
}

declare -A rate secs reqs
run() { # server name shape command...
    local server="$1" name="$2" shape="$3" seconds requests connections
    shift 3
    read -r seconds requests connections < <(measure "$(log_of "$server")" \
        "$(connections_of "$server")" "$@")
    rate["$server/$name/$shape"]=$(echo "$requests / $seconds" | bc -l)
    secs["$server/$name/$shape"]=$seconds
    reqs["$server/$name/$shape"]=$requests
    printf '%-7s %-26s %-6s %5d requests %4d connections %7.2f s %8.1f pages/s\n' "$server" \
        "$name" "$shape" "$requests" "$connections" "$seconds" "${rate["$server/$name/$shape"]}"
}

ratio() { # server shape a b
    local a="${rate["$1/$3/$2"]:-}" b="${rate["$1/$4/$2"]:-}"
    if [ -n "$a" ] && [ -n "$b" ] && [ "$(echo "$b > 0" | bc)" = 1 ]; then
        printf '%5.2f' "$(echo "$a / $b" | bc -l)"
    else
        printf '%5s' -
    fi
}

echo "delay ${delay} ms per response; tree and chain of $pages pages, dense site of $dense," \
    "list of $listed addresses; servers: $servers"
for server in $servers; do
    base="$(base_of "$server")"
    for n in $(seq 0 $(( listed - 1 ))); do echo "$base/list/$n.html"; done >"$work/$server.list"
    tls=()
    trust=()
    if [ "${server#https}" != "$server" ]; then
        tls=(--ca-certificate="$work/nginx/trusted.pem")
        trust=(env CURL_CA_BUNDLE="$work/nginx/trusted.pem")
        # nginx keeps its connections to the delay server for the next requests:
        # one run first, not measured, so that no measured run pays for making them.
        (cd "$work" && timeout -k 5 "$limit" "${trust[@]}" "$harvest" -q -i "$work/$server.list" \
            >/dev/null 2>&1) || true
    fi
    case "$server" in
    http) shapes="tree chain dense list" ;;
    close) shapes="dense list" ;;
    *) shapes="tree dense list" ;;
    esac
    for shape in $shapes; do
        case " $only " in *" $shape "*) ;; *) continue ;; esac
        if [ "$shape" = list ]; then
            what=(-i "$work/$server.list")
            wget_what=(-i "$work/$server.list")
        else
            what=(--forever "$base/$shape/0.html")
            wget_what=(--recursive --level=inf --no-robots "$base/$shape/0.html")
        fi
        run "$server" orvelle "$shape" "${trust[@]}" "$harvest" -q "${what[@]}"
        run "$server" "orvelle --parallel 1" "$shape" "${trust[@]}" "$harvest" -q --parallel 1 \
            "${what[@]}"
        if [ "$server" = https ]; then
            # The most connections allowed; over HTTP/2 one host still has at most
            # --per-host of them, with up to 64 streams on each.
            run "$server" "orvelle --parallel 64" "$shape" "${trust[@]}" "$harvest" -q \
                --parallel 64 "${what[@]}"
        fi
        if [ "$shape" = dense ]; then
            run "$server" "orvelle --max-pages 40" "$shape" "${trust[@]}" "$harvest" -q \
                --max-pages 40 "${what[@]}"
            run "$server" "orvelle -p1 --max-pages 40" "$shape" "${trust[@]}" "$harvest" -q \
                --parallel 1 --max-pages 40 "${what[@]}"
        fi
        run "$server" wget2 "$shape" wget2 -q --delete-after -nd "${tls[@]}" "${wget_what[@]}"
        if [ "$server" = http ]; then
            if [ "$shape" = list ]; then
                wget1=(-i "$work/$server.list")
            else
                wget1=(--recursive --level=inf -e robots=off "$base/$shape/0.html")
            fi
            run "$server" wget "$shape" wget -q --delete-after -nd "${wget1[@]}"
        fi
    done
done

echo
printf '%-7s %-6s %16s %16s %22s\n' server shape "orvelle / wget2" "orvelle / wget" \
    "orvelle / --parallel 1"
for server in $servers; do
    for shape in tree chain dense list; do
        [ -n "${rate["$server/orvelle/$shape"]:-}" ] || continue
        printf '%-7s %-6s %16s %16s %22s\n' "$server" "$shape" "$(ratio "$server" "$shape" orvelle wget2)" \
            "$(ratio "$server" "$shape" orvelle wget)" \
            "$(ratio "$server" "$shape" orvelle "orvelle --parallel 1")"
    done
    for shape in tree chain dense list; do
        [ -n "${rate["$server/orvelle --parallel 64/$shape"]:-}" ] || continue
        printf '%-7s %-6s --parallel 64 / wget2 %s\n' "$server" "$shape" \
            "$(ratio "$server" "$shape" "orvelle --parallel 64" wget2)"
    done
    if [ -n "${secs["$server/orvelle --max-pages 40/dense"]:-}" ]; then
        printf '%-7s dense --max-pages 40: %d requests in %.2f s (--parallel 1: %d in %.2f s)\n' \
            "$server" "${reqs["$server/orvelle --max-pages 40/dense"]}" \
            "${secs["$server/orvelle --max-pages 40/dense"]}" \
            "${reqs["$server/orvelle -p1 --max-pages 40/dense"]}" \
            "${secs["$server/orvelle -p1 --max-pages 40/dense"]}"
    fi
done
