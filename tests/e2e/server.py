#!/usr/bin/env python3
"""Form server for the end-to-end tests.

Serves the pages in --pages on 127.0.0.1 at a free port, which it writes to --port-file once it
listens. Every event is appended to --log as one JSON object per line:
  {"kind": "submit", "seq": n, "page": ..., "fields": {name: value, ...}}   a submitted form
  {"kind": "load", "seq": n, "page": ...}                                     page (re)loaded
  {"kind": "layout", "seq": n, "page": ..., "origin": [x, y], "rects": {...}} element positions
  {"kind": "selection", "seq": n, "page": ..., "text": ...}                   the page's selection
  {"kind": "focus", "seq": n, "page": ..., "text": element id}                a field got the focus
  {"kind": "click", "seq": n, "page": ..., "clicks": k, "text": selection}    after a mouse click
  {"kind": "composition", "seq": n, "page": ..., "phase": p, "text": preedit} input method
  {"kind": "keydown", "seq": n, "page": ..., "text": key, "fields": {n, code, target, ctrl}}
Files under /npm/ come from --npm, where the tests install the libraries that pages use.
Every event also has "tag", the t= parameter of the page's address, which marks one session.
A submission is answered with a redirect back to the page, so one browser can fill it again.
The server ends when its parent process does.
"""
import argparse
import json
import os
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PAGE_EVENTS = ("load", "layout", "selection", "focus", "click", "composition", "keydown")
lock = threading.Lock()
seq = 0


def log_event(path, event):
    global seq
    with lock:
        seq += 1
        event = {"kind": event.pop("kind"), "seq": seq, **event}
        with open(path, "a", encoding="utf-8") as f:
            f.write(json.dumps(event, ensure_ascii=False) + "\n")
            f.flush()
            os.fsync(f.fileno())
        return seq


class Handler(BaseHTTPRequestHandler):
    server_version = "PenrikaFormServer/1"

    def log_message(self, fmt, *args):  # keep the test output quiet
        pass

    def _body(self):
        n = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(n) if n else b""

    def _send(self, code, body=b"", ctype="text/plain; charset=utf-8", headers=()):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        name = os.path.basename(urllib.parse.unquote(url.path)) or "index.html"
        if name == "favicon.ico":
            return self._send(204)
        path = os.path.join(self.server.pages, name)
        if url.path.startswith("/npm/") and self.server.npm:
            inner = os.path.normpath(urllib.parse.unquote(url.path[len("/npm/"):]))
            if inner.startswith("..") or os.path.isabs(inner):
                return self._send(404)
            path = os.path.join(self.server.npm, "node_modules", inner)
        if not os.path.isfile(path):
            return self._send(404, "見つかりません".encode())
        ctype = {".js": "text/javascript", ".css": "text/css"}.get(
            os.path.splitext(name)[1], "text/html")
        with open(path, "rb") as f:
            self._send(200, f.read(), ctype + "; charset=utf-8")

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        body = self._body()
        if url.path == "/submit":
            fields = {}
            for k, v in urllib.parse.parse_qsl(body.decode("utf-8", "replace"),
                                               keep_blank_values=True):
                fields[k] = v
            page = fields.pop("_page", "")
            # The page's address carries the session tag (?t=...); back to it after logging.
            referer = urllib.parse.urlsplit(self.headers.get("Referer") or "")
            tag = urllib.parse.parse_qs(referer.query).get("t", [""])[0]
            log_event(self.server.log,
                      {"kind": "submit", "page": page, "tag": tag, "fields": fields})
            back = "/" + page + ("?t=" + urllib.parse.quote(tag) if tag else "")
            return self._send(303, headers=[("Location", back)])
        if url.path == "/event":
            try:
                event = json.loads(body.decode("utf-8"))
            except ValueError:
                return self._send(400)
            if not isinstance(event, dict) or event.get("kind") not in PAGE_EVENTS:
                return self._send(400)
            log_event(self.server.log, event)
            return self._send(204)
        self._send(404)


def watch_parent(parent):
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pages", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--npm", default="")
    args = ap.parse_args()

    httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    httpd.daemon_threads = True
    httpd.pages = os.path.abspath(args.pages)
    httpd.log = os.path.abspath(args.log)
    httpd.npm = os.path.abspath(args.npm) if args.npm else ""
    open(httpd.log, "a").close()
    threading.Thread(target=watch_parent, args=(os.getppid(),), daemon=True).start()
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(httpd.server_address[1]))
    os.rename(tmp, args.port_file)
    try:
        httpd.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
