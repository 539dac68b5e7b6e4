#!/usr/bin/env python3
"""Serves the web page from a folder on the loopback only and prints its address at once.

    serve_web.py DIR [PORT]      PORT 0 (the default) takes any free one
"""
import functools
import http.server
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map, **{
        ".wasm": "application/wasm", ".woff2": "font/woff2", ".js": "text/javascript",
        ".webmanifest": "application/manifest+json", ".css": "text/css", ".html": "text/html"})

    def end_headers(self):
        # Always asked again: the service worker, not the browser's cache, keeps the page offline.
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def log_message(self, *args):
        pass


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.strip())
    handler = functools.partial(Handler, directory=sys.argv[1])
    port = int(sys.argv[2]) if len(sys.argv) == 3 else 0
    with http.server.ThreadingHTTPServer(("127.0.0.1", port), handler) as server:
        print(f"http://127.0.0.1:{server.server_address[1]}/", flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
