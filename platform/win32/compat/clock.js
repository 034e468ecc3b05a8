// One clock for every thread of the browser build. Emscripten's own clock gives each Worker its
// performance.now() less a drift measured from how long the Worker's start message took to arrive, so two
// threads' clocks differ by that transit time: more than a millisecond while the page is still starting.
// performance.timeOrigin + performance.now() reads the same shared monotonic clock in every context.
mergeInto(LibraryManager.library, {
  emscripten_get_now: function() { return performance.timeOrigin + performance.now(); },
});
