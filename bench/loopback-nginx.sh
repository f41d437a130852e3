# Sourced by the loopback benchmarks: serves $work/site with nginx on a free
# loopback port; sets port and nginx_pid. $work must hold logs/ and tmp/; $1 names
# the caller in messages.
start_nginx() {
    local port="$1"
    cat >"$work/nginx.conf" <<EOF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 1024; }
http {
    types { text/html html; }
    default_type text/html;
    log_format bench '\$status \$request_method \$request_uri';
    access_log $work/logs/access.log bench;
    client_body_temp_path $work/tmp/body;
    proxy_temp_path $work/tmp/proxy;
    fastcgi_temp_path $work/tmp/fastcgi;
    uwsgi_temp_path $work/tmp/uwsgi;
    scgi_temp_path $work/tmp/scgi;
    keepalive_requests 1000000;
    server {
        listen 127.0.0.1:$port;
        root $work/site;
    }
}
EOF
    /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" 2>/dev/null || return 1
    for _ in $(seq 50); do
        [ -s "$work/nginx.pid" ] && break
        sleep 0.1
    done
    nginx_pid="$(cat "$work/nginx.pid" 2>/dev/null)" || return 1
}

# A free port: one that refuses a connection, then one nginx can listen on.
port=""
for _ in $(seq 20); do
    candidate=$((20000 + RANDOM % 40000))
    if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then continue; fi
    if start_nginx "$candidate"; then port="$candidate"; break; fi
done
if [ -z "$port" ]; then
    echo "$1: nginx did not start:" >&2
    cat "$work/logs/error.log" >&2 || true
    exit 1
fi
