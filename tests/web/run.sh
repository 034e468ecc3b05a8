#!/usr/bin/env bash
# The browser tests: the site of build-web/ (make web) served as `make run-web` serves it, the utility used
# in headless chromium through roles and accessible names, the unit behind a stand-in for Web MIDI.
# Exit code 77 (skipped) when the site, the browser or the driver is missing.
set -euo pipefail
cd "$(dirname "$0")"
site=${VEXA_SITE:-../../build-web/site}
if [[ ! -f "$site/vexa.wasm" || ! -x /usr/bin/chromium || ! -d node_modules/playwright-core ]]; then
  echo "browser tests: need $site (make web), /usr/bin/chromium and node_modules (scripts/deps.sh web)" >&2
  exit 77
fi
exec node --test --test-concurrency=1 browser.test.mjs settings.test.mjs
