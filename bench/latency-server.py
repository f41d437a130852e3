#!/usr/bin/env python3
"""A loopback HTTP server that waits before every response, as a distant site
does: threaded, TCP_NODELAY, keep-alive HTTP/1.1 or, with --close, HTTP/1.0
that closes the connection after every response. It serves generated sites:

  /tree/N.html   page N links to its children 3N+1, 3N+2 and 3N+3
  /chain/N.html  page N links to N+1, N+2, N+3 and to page 0
  /dense/N.html  a documentation site of DENSE pages in chapters of 10: after
                 the text, links to the previous and the next page, then a sidebar
                 that links to the first page of 40 chapters around this one (all
                 of them on a site of 400 pages), to the other pages of its own
                 chapter and to up to 10 related pages: 49 to 59 links
  /list/N.html   a page with a few links that lead nowhere

Usage: latency-server.py PORT_FILE LOG_FILE PAGES DELAY_MS [DENSE] [--close]
The chosen port is written to PORT_FILE; every request's path and client port
(one port for each connection) go to LOG_FILE.
"""
import http.server
import random
import socket
import socketserver
import sys
import threading
import time

args = [a for a in sys.argv[1:] if a != "--close"]
closing = "--close" in sys.argv[1:]
port_file, log_file, pages, delay_ms = args[0], args[1], int(args[2]), float(args[3])
dense_pages = int(args[4]) if len(args) > 4 else 400
log = open(log_file, "a", buffering=1)
log_lock = threading.Lock()
FILLER = "<p>" + "Lorem ipsum dolor sit amet, consectetur adipiscing elit. " * 20 + "</p>\n"
CHAPTER = 10
HEADS = 40


def dense_targets(n):
    """The sidebar and the neighbours of dense page n; the same on every run."""
    chapter = n - n % CHAPTER
    # The first pages of the chapters around this one: all of them on a small site.
    chapters = (dense_pages + CHAPTER - 1) // CHAPTER
    first = max(0, min(chapter // CHAPTER - HEADS // 2, chapters - HEADS))
    sidebar = [c * CHAPTER for c in range(first, min(first + HEADS, chapters))]
    sidebar += [p for p in range(chapter, min(chapter + CHAPTER, dense_pages)) if p != n]
    related = random.Random(n).sample(range(dense_pages), min(dense_pages, 10))
    sidebar += related[: (n * 7) % 11]
    neighbours = [p for p in (n - 1, n + 1) if 0 <= p < dense_pages]
    return sidebar, neighbours


def page(shape, n):
    if shape == "tree":
        targets = [c for c in (3 * n + 1, 3 * n + 2, 3 * n + 3) if c < pages]
    elif shape == "chain":
        targets = [c for c in (n + 1, n + 2, n + 3) if c < pages] + [0]
    elif shape == "dense":
        sidebar, neighbours = dense_targets(n)
        nav = "".join('<li><a href="/dense/%d.html">%d</a></li>\n' % (t, t) for t in sidebar)
        foot = "".join('<a href="%d.html">%d</a>\n' % (t, t) for t in neighbours)
        # As generated documentation lays it out: content, previous and next, then the sidebar.
        return ("<html><head><title>dense %d</title></head><body><main>%s%s</main>"
                "<footer>%s</footer><nav><ul>%s</ul></nav></body></html>" % (n, FILLER, FILLER, foot, nav))
    else:
        return ("<html><body>%s<a href=\"https://elsewhere.example/%d\">x</a>"
                "<img src=\"pic%d.png\"></body></html>" % (FILLER, n, n))
    links = "".join('<li><a href="%d.html">page %d</a></li>\n' % (t, t) for t in targets)
    return "<html><head><title>%s %d</title></head><body>%s<ul>%s</ul></body></html>" % (
        shape, n, FILLER, links)


class Handler(http.server.BaseHTTPRequestHandler):
    # HTTP/1.0: http.server closes the connection after every response.
    protocol_version = "HTTP/1.0" if closing else "HTTP/1.1"

    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def do_GET(self):
        with log_lock:
            log.write("%s %d\n" % (self.path, self.client_address[1]))
        time.sleep(delay_ms / 1000.0)
        parts = self.path.strip("/").split("/")
        body, status = b"not found", 404
        if len(parts) == 2 and parts[0] in ("tree", "chain", "dense", "list") and parts[1].endswith(".html"):
            try:
                n = int(parts[1][:-5])
                if 0 <= n < (dense_pages if parts[0] == "dense" else pages):
                    body, status = page(parts[0], n).encode(), 200
            except ValueError:
                pass
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        if closing:
            self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    # nginx in front opens a connection for each request it passes on at once,
    # nearly 200 of them at the start of an HTTP/2 run: a backlog shorter than that
    # drops connections, and each costs a second until the SYN is sent again.
    request_queue_size = 1024

    def handle_error(self, request, client_address):
        pass  # a client that went away mid-answer (a stopped run) is no news


server = Server(("127.0.0.1", 0), Handler)
with open(port_file, "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
