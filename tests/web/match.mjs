// Runs in the page: which elements a locator's query matches: the candidates that the engine found by role
// and accessible name, or those of spec.css. A query by role matches shown elements only, as Playwright's
// do, and so does any with spec.shown.
export function MATCH(spec, ...candidates) {
  const shown = (el) => el.getClientRects().length > 0 && getComputedStyle(el).visibility !== 'hidden';
  const has = (text, wanted) =>
      typeof wanted === 'string' ? text.includes(wanted) : new RegExp(wanted.source, wanted.flags).test(text);
  let found = spec.role ? candidates : [...document.querySelectorAll(spec.css || 'body *')];
  if (spec.role || spec.shown) found = found.filter(shown);
  if (spec.has_text) found = found.filter((el) => has(el.textContent, spec.has_text));
  if (spec.and_css) found = found.filter((el) => el.matches(spec.and_css));
  return found;
}
