#!/usr/bin/env bash
# The browser tests: the site of build-web/ (make web) served as `make run-web` serves it, the utility used
# in Chromium, Firefox (headless, through puppeteer-core) and WebKit (WebKitWebDriver under Xvfb) through
# roles and accessible names, the unit behind a stand-in for Web MIDI. An engine that is not installed is
# skipped with the reason. Exit code 77 (skipped) when the site, the driver or every engine is missing.
set -euo pipefail
cd "$(dirname "$0")"
site=${VEXA_SITE:-../../build-web/site}
if [[ ! -f "$site/sw.js" || ! -d node_modules/puppeteer-core ]]; then
  echo "browser tests: need $site (make web) and node_modules (scripts/deps.sh web)" >&2
  exit 77
fi
if [[ ! -x /usr/bin/chromium && ! -x /usr/bin/firefox-esr && ! -x /usr/bin/WebKitWebDriver ]]; then
  echo "browser tests: no browser installed (scripts/deps.sh web)" >&2
  exit 77
fi
exec node --test --test-concurrency=1 --test-reporter=spec ./*.test.mjs
