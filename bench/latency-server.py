#!/usr/bin/env python3
"""A loopback HTTP/1.1 server that waits before every response, as a distant
site does: threaded, keep-alive, TCP_NODELAY. It serves generated sites:

  /tree/N.html   page N links to its children 3N+1, 3N+2 and 3N+3
  /chain/N.html  page N links to N+1, N+2, N+3 and to page 0
  /list/N.html   a page with a few links that lead nowhere

Usage: latency-server.py PORT_FILE LOG_FILE PAGES DELAY_MS
The chosen port is written to PORT_FILE; every request's path goes to LOG_FILE.
"""
import http.server
import socket
import socketserver
import sys
import threading
import time

port_file, log_file, pages, delay_ms = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
log = open(log_file, "a", buffering=1)
log_lock = threading.Lock()
FILLER = "<p>" + "Lorem ipsum dolor sit amet, consectetur adipiscing elit. " * 20 + "</p>\n"


def page(shape, n):
    if shape == "tree":
        targets = [c for c in (3 * n + 1, 3 * n + 2, 3 * n + 3) if c < pages]
    elif shape == "chain":
        targets = [c for c in (n + 1, n + 2, n + 3) if c < pages] + [0]
    else:
        return ("<html><body>%s<a href=\"https://elsewhere.example/%d\">x</a>"
                "<img src=\"pic%d.png\"></body></html>" % (FILLER, n, n))
    links = "".join('<li><a href="%d.html">page %d</a></li>\n' % (t, t) for t in targets)
    return "<html><head><title>%s %d</title></head><body>%s<ul>%s</ul></body></html>" % (
        shape, n, FILLER, links)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def do_GET(self):
        with log_lock:
            log.write(self.path + "\n")
        time.sleep(delay_ms / 1000.0)
        parts = self.path.strip("/").split("/")
        body, status = b"not found", 404
        if len(parts) == 2 and parts[0] in ("tree", "chain", "list") and parts[1].endswith(".html"):
            try:
                n = int(parts[1][:-5])
                if 0 <= n < pages:
                    body, status = page(parts[0], n).encode(), 200
            except ValueError:
                pass
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 128


server = Server(("127.0.0.1", 0), Handler)
with open(port_file, "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
