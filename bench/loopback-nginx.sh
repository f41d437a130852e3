# Sourced by the loopback benchmarks: write_site writes the generated site, and
# start_loopback_nginx NAME serves $work/site with nginx on a free loopback port,
# setting port and nginx_pid ($work must hold logs/ and tmp/; NAME goes into the
# messages).

# Page N links to its children 2N+1 and 2N+2, to its neighbours N-1 and N+1 and
# to page 0, by relative, root-relative and absolute-path links; every page is
# reachable from page 0, and each holds about 1.5 KB of text.
write_site() { # PAGES FOLDER
    awk -v pages="$1" -v dir="$2" 'BEGIN {
    filler = "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod " \
             "tempor incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, " \
             "quis nostrud exercitation ullamco laboris nisi ut aliquip ex ea commodo."
    for (n = 0; n < pages; n++) {
        file = dir "/" n ".html"
        printf "<!DOCTYPE html>\n<html><head><title>Page %d</title></head><body>\n", n > file
        printf "<h1>Page %d</h1>\n<p>%s</p>\n<p>%s</p>\n<ul>\n", n, filler, filler > file
        if (2 * n + 1 < pages) printf "<li><a href=\"%d.html\">child</a></li>\n", 2 * n + 1 > file
        if (2 * n + 2 < pages) printf "<li><a href=\"/p/%d.html\">child</a></li>\n", 2 * n + 2 > file
        if (n + 1 < pages) printf "<li><a href=\"./%d.html\">next</a></li>\n", n + 1 > file
        if (n > 0) printf "<li><a href=\"%d.html\">previous</a></li>\n", n - 1 > file
        printf "<li><a href=\"/p/0.html\">home</a></li>\n</ul>\n<p>%s</p>\n</body></html>\n", filler > file
        close(file)
    }
}'
}

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
start_loopback_nginx() {
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
}
