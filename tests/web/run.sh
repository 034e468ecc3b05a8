#!/usr/bin/env bash
# The browser tests (support.mjs says how they run): the site of build-web/ (make web), the utility used in
# Chromium, Firefox (headless, through puppeteer-core) and WebKit (WebKitWebDriver under Xvfb). An engine
# that is not installed is skipped with the reason. Exit code 77 (skipped) when the site, the driver or every
# engine is missing.
set -euo pipefail
cd "$(dirname "$0")"
site=${VEXA_SITE:-../../build-web/site}
browsers=$(ls /usr/bin/chromium /usr/bin/firefox-esr /usr/bin/WebKitWebDriver 2>/dev/null || true)
if [[ ! -f "$site/sw.js" || ! -d node_modules/puppeteer-core || -z "$browsers" ]]; then
  echo "browser tests: need $site (make web), node_modules and a browser (scripts/deps.sh web)" >&2
  exit 77
fi
exec node --test --test-concurrency=1 --test-reporter=spec ./*.test.mjs
