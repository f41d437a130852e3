#!/usr/bin/env python3
"""Loopback hosts for a link check: one threaded keep-alive HTTP/1.1 server per
port, HOSTS ports in all. The first port serves /links/K.html, K from 0 to
PAGES - 1: each page links to LINKS / PAGES distinct addresses /l/N spread over
every host (N % HOSTS picks the port). Every /l/N answers 200, except one in
twenty (404) and one in fifty (a 301 to /l/N/moved); HEAD and GET alike. The
last SLOW hosts wait DELAY_MS before every answer, the others answer at once.

Usage: check-server.py PORT_FILE LOG_FILE HOSTS LINKS PAGES SLOW DELAY_MS
The ports, one a line, go to PORT_FILE once all listen; every request's method,
port and path go to LOG_FILE.
"""
import http.server
import socket
import socketserver
import sys
import threading
import time

port_file, log_file = sys.argv[1], sys.argv[2]
hosts, links, pages, slow, delay_ms = (int(a) for a in sys.argv[3:8])
log = open(log_file, "a", buffering=1)
log_lock = threading.Lock()
ports = []


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def answer(self, head):
        port = self.server.server_address[1]
        with log_lock:
            log.write("%s %d %s\n" % (self.command, port, self.path))
        if ports.index(port) >= hosts - slow:
            time.sleep(delay_ms / 1000.0)
        status, location, body = 200, None, b"ok\n"
        path = self.path
        if path.startswith("/links/") and path.endswith(".html"):
            k = int(path[len("/links/"):-len(".html")])
            per = links // pages
            body = "".join(
                '<a href="http://127.0.0.1:%d/l/%d">%d</a>\n' % (ports[n % hosts], n, n)
                for n in range(k * per, (k + 1) * per)).encode()
        elif path.startswith("/l/"):
            rest = path[len("/l/"):]
            if not rest.endswith("/moved"):
                n = int(rest)
                if n % 20 == 7:
                    status, body = 404, b"missing\n"
                elif n % 50 == 3:
                    status, location, body = 301, "/l/%d/moved" % n, b""
        else:
            status, body = 404, b"missing\n"
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not head:
            self.wfile.write(body)

    def do_GET(self):
        self.answer(False)

    def do_HEAD(self):
        self.answer(True)

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 512

    # A client that closes a connection mid-answer (a GET abandoned after the
    # headers) is no error.
    def handle_error(self, request, client_address):
        pass

    def server_bind(self):
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().server_bind()


servers = [Server(("127.0.0.1", 0), Handler) for _ in range(hosts)]
ports.extend(s.server_address[1] for s in servers)
for s in servers:
    threading.Thread(target=s.serve_forever, daemon=True).start()
with open(port_file + ".tmp", "w") as f:
    f.write("\n".join(str(p) for p in ports) + "\n")
import os
os.rename(port_file + ".tmp", port_file)
threading.Event().wait()
