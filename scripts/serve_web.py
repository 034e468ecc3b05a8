#!/usr/bin/env python3
"""Serves the browser build's site on 127.0.0.1 with cross-origin isolation and a strict
Content-Security-Policy. Usage: scripts/serve_web.py [site folder] [port]"""
import functools
import http.server
import os
import re
import sys


def page_policy(site):
    """The page's own Content-Security-Policy (its meta element), and what only a header can say: that no
    other site may show the page in a frame."""
    with open(os.path.join(site, 'index.html'), encoding='utf-8') as page:
        found = re.search(r'http-equiv="Content-Security-Policy" content="([^"]*)"', page.read())
    return (found.group(1) + '; ' if found else '') + "frame-ancestors 'none'"


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.wasm': 'application/wasm', '.js': 'text/javascript',
                      '.webmanifest': 'application/manifest+json'}

    def end_headers(self):
        self.send_header('Cross-Origin-Opener-Policy', 'same-origin')
        self.send_header('Cross-Origin-Embedder-Policy', 'require-corp')
        self.send_header('Content-Security-Policy', self.policy)
        self.send_header('Cache-Control', 'no-cache')
        super().end_headers()

    def log_message(self, *args):
        pass


def main():
    site = sys.argv[1] if len(sys.argv) > 1 else 'build-web/site'
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 8080
    Handler.policy = page_policy(site)
    handler = functools.partial(Handler, directory=site)
    with http.server.ThreadingHTTPServer(('127.0.0.1', port), handler) as server:
        print(f'Serving {site} on http://127.0.0.1:{server.server_address[1]}/ (Ctrl+C stops)', flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == '__main__':
    main()
