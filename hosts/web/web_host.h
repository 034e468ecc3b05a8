// The browser host: the page (index.html, page.js) draws the current dialog of the USER32 layer with HTML
// elements and turns a person's clicks and keys into the layer's person input (user32_ext.h).
//
// What the page shows goes to it as JSON (web_dialog_json): a watcher thread of this host waits for
// changes of the layer and posts each new state to the page's main thread. A second one posts the time
// code reader's line (timecode/tap.h) whenever it changes. The page calls the exported
// web_* functions (web_host.cpp) for input; they queue it and return at once.
#pragma once
#include <string>

// The current dialog, its open message boxes and the simulated unit's mode as one JSON object.
std::string web_dialog_json();
// Starts and stops the watcher thread. `sim` tells the page that the simulated unit is in use.
void web_watch_start(bool sim);
void web_watch_stop();
