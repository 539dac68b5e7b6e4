#!/usr/bin/env python3
"""Serves the web page from a folder on the loopback only and prints its address at once.

    serve_web.py [--open] DIR [PORT]    PORT 0 (the default) takes any free one; --open also
                                        opens the address in the default browser, if any
    serve_web.py --inject FILE DIR      for the test harness: the page runs FILE's script
                                        before its own (where a browser's driver cannot)
    serve_web.py --max-age SECONDS DIR  lets browsers keep each file for SECONDS, as many
                                        hosts do
"""
import functools
import http.server
import os
import sys
import threading
import webbrowser


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map, **{
        ".wasm": "application/wasm", ".woff2": "font/woff2", ".js": "text/javascript",
        ".webmanifest": "application/manifest+json", ".css": "text/css", ".html": "text/html"})

    injected = None
    # Always asked again: the service worker, not the browser's cache, keeps the page offline.
    cache_control = "no-cache"

    def do_GET(self):
        path = self.path.split("?")[0]
        if self.injected is None or path not in ("/", "/index.html", "/injected.js"):
            return super().do_GET()
        if path == "/injected.js":
            body, kind = open(self.injected, "rb").read(), "text/javascript"
        else:
            with open(os.path.join(self.directory, "index.html"), "rb") as f:
                body = f.read().replace(b"<head>", b'<head>\n<script src="injected.js"></script>', 1)
            kind = "text/html"
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def end_headers(self):
        self.send_header("Cache-Control", self.cache_control)
        super().end_headers()

    def log_message(self, *args):
        pass


def main():
    args = sys.argv[1:]
    open_browser = args[:1] == ["--open"]
    args = args[1:] if open_browser else args
    if args[:1] == ["--inject"] and len(args) >= 3:
        Handler.injected, args = args[1], args[2:]
    if args[:1] == ["--max-age"] and len(args) >= 3 and args[1].isdigit():
        Handler.cache_control, args = f"max-age={args[1]}", args[2:]
    if len(args) not in (1, 2):
        sys.exit(__doc__.strip())
    handler = functools.partial(Handler, directory=args[0])
    port = int(args[1]) if len(args) == 2 else 0
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    except OSError:  # taken: any free port will do
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    with server:
        url = f"http://127.0.0.1:{server.server_address[1]}/"
        print(url, flush=True)
        # Only on a desktop: elsewhere the default may be a text browser taking the terminal.
        if open_browser and (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
            threading.Thread(target=webbrowser.open, args=(url,), daemon=True).start()
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
