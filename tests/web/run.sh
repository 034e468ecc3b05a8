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
# Each file within a limit of its own too: its cases time out and end their pages and hosts, and should
# anything still hang past that (a browser that never closes), the file is ended and counts as failed.
status=0
for file in ./*.test.mjs; do
  timeout --kill-after=10 "${VEXA_WEB_FILE_SECONDS:-900}" node --test --test-reporter=spec "$file" || status=1
done
exit $status
