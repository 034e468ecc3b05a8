// A static host as people publish the site on: it sends no isolation headers (the site's service worker
// adds them), and it lets browsers cache every file for `cache_seconds` (0: they must ask again each time).
// The folder it serves can be swapped, as a new version of the site is published.
import {createReadStream, statSync} from 'node:fs';
import http from 'node:http';
import path from 'node:path';

const TYPES = {
  '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
  '.png': 'image/png', '.webmanifest': 'application/manifest+json',
};

// Resolves to {url, requests (the path and query of each request, in order), publish(folder), stop()}.
export function start_host(folder, cache_seconds = 0) {
  let root = folder;
  const requests = [];
  const server = http.createServer((request, response) => {
    requests.push(request.url);
    const name = decodeURIComponent(new URL(request.url, 'http://host').pathname).replace(/\/$/, '/index.html');
    const file = path.join(root, path.normalize(name));
    let size = -1;
    try {
      size = file.startsWith(root) ? statSync(file).size : -1;
    } catch (error) {
      // no such file
    }
    if (size < 0) return response.writeHead(404).end();
    response.writeHead(200, {
      'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream', 'Content-Length': size,
      'Cache-Control': cache_seconds ? `max-age=${cache_seconds}` : 'no-cache',
    });
    createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({
      url: `http://127.0.0.1:${server.address().port}/`, requests, publish: (next) => { root = next; },
      stop: () => new Promise((done) => {
        server.close(done);
        server.closeAllConnections();
      }),
    }));
  });
}
