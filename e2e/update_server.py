#!/usr/bin/env python3
"""A loopback HTTP server for the update tests: serves a folder, with byte
ranges, and misbehaves on cue.

    update_server.py FOLDER LOG

Binds 127.0.0.1 on a port the system picks, prints the port on a line of
its own, and logs one line per request to LOG ("GET PATH RANGE"). GET /_cue/MODE
sets how it answers the requests for FOLDER's files/ from then on:
  normal   as a file server does;
  stall    sends nothing until the server stops (the client's timeout ends it);
  drop     sends the headers and half of the body, then closes;
  norange  ignores Range and sends the whole file with 200;
  badrange answers a Range with 206 but the whole file, as "bytes 0-...";
  slowloris sends the headers, then one byte every 1.5 s (every path);
  error    answers 500.
It ends on SIGTERM, and releases every stalled request first."""
import http.server
import os
import signal
import sys
import threading

folder, log_path = sys.argv[1], sys.argv[2]
mode = "normal"
stop = threading.Event()
log = open(log_path, "a", buffering=1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        global mode
        log.write("GET %s %s %s\n" % (self.path, self.headers.get("Range", "-"), mode))
        if self.path.startswith("/_cue/"):
            mode = self.path[len("/_cue/"):]
            return self.reply(200, b"ok\n")
        path = os.path.normpath(os.path.join(folder, self.path.lstrip("/").split("?")[0]))
        if not path.startswith(os.path.abspath(folder) + os.sep) or not os.path.isfile(path):
            return self.reply(404, b"not found\n")
        if mode == "error":
            return self.reply(500, b"server error\n")
        if mode == "stall":
            stop.wait(600)
            self.close_connection = True
            return
        with open(path, "rb") as f:
            body = f.read()
        start = 0
        rng = self.headers.get("Range")
        if rng and rng.startswith("bytes=") and rng.endswith("-") and mode != "norange":
            start = int(rng[len("bytes="):-1])
        if start >= len(body) and start > 0:
            return self.reply(416, b"")
        self.send_response(206 if start else 200)
        if start and mode == "badrange":
            start = 0
            self.send_header("Content-Range", "bytes 0-%d/%d" % (len(body) - 1, len(body)))
        elif start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body)))
        self.send_header("Content-Length", str(len(body) - start))
        self.end_headers()
        part = body[start:]
        if mode == "slowloris":
            for i in range(len(part)):
                self.wfile.write(part[i:i + 1])
                self.wfile.flush()
                if stop.wait(1.5):
                    break
            self.close_connection = True
            return
        if mode == "drop" and "/files/" in self.path:
            self.wfile.write(part[: len(part) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        self.wfile.write(part)

    def reply(self, status, body):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        # A client that gave up (a timeout, a full disk) is part of the tests.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


server = Server(("127.0.0.1", 0), Handler)
server.daemon_threads = True


def end(*_):
    stop.set()
    threading.Thread(target=server.shutdown).start()


signal.signal(signal.SIGTERM, end)
print(server.server_address[1], flush=True)
server.serve_forever()
