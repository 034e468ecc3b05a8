// Runs in the page: which elements a locator's query matches. The first spec.candidates elements are those
// that the engine found by role and accessible name (none for a query by CSS or text). A query by role or
// text matches shown elements only, as Playwright's do, and so does any with spec.shown.
export function MATCH(spec, ...candidates) {
  const shown = (el) => el.getClientRects().length > 0 && getComputedStyle(el).visibility !== 'hidden';
  const has = (text, wanted) =>
      typeof wanted === 'string' ? text.includes(wanted) : new RegExp(wanted.source, wanted.flags).test(text);
  let found = spec.role ? candidates : [...document.querySelectorAll(spec.css || 'body *')];
  if (spec.role || spec.shown) found = found.filter(shown);
  // Text: the innermost elements that hold it.
  if (spec.text) {
    found = found.filter((el) => shown(el) && has(el.textContent, spec.text) &&
                                 ![...el.children].some((child) => has(child.textContent, spec.text)));
  }
  if (spec.has_text) found = found.filter((el) => has(el.textContent, spec.has_text));
  if (spec.and_css) found = found.filter((el) => el.matches(spec.and_css));
  return found;
}
