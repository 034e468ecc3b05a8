#!/usr/bin/env python3
"""Serves the browser build's site on 127.0.0.1 with cross-origin isolation and a strict
Content-Security-Policy. Usage: scripts/serve_web.py [site folder] [port]"""
import functools
import http.server
import sys

# Only this origin: scripts, the program's Workers and its WebAssembly; the picture and the icon are
# made on the page as blob: URLs.
POLICY = ("default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; worker-src 'self'; "
          "img-src 'self' blob: data:; style-src 'self'; connect-src 'self'; object-src 'none'; "
          "base-uri 'none'; form-action 'none'; frame-ancestors 'none'")


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.wasm': 'application/wasm', '.js': 'text/javascript',
                      '.webmanifest': 'application/manifest+json'}

    def end_headers(self):
        self.send_header('Cross-Origin-Opener-Policy', 'same-origin')
        self.send_header('Cross-Origin-Embedder-Policy', 'require-corp')
        self.send_header('Content-Security-Policy', POLICY)
        self.send_header('Cache-Control', 'no-cache')
        super().end_headers()

    def log_message(self, *args):
        pass


def main():
    site = sys.argv[1] if len(sys.argv) > 1 else 'build-web/site'
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 8080
    handler = functools.partial(Handler, directory=site)
    with http.server.ThreadingHTTPServer(('127.0.0.1', port), handler) as server:
        print(f'Serving {site} on http://127.0.0.1:{server.server_address[1]}/ (Ctrl+C stops)', flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == '__main__':
    main()
