// One job from click to picture: the browser draws the page, and the picture appears at
// path + ".jpg" complete or not at all. A job that fails says why in path + ".log".
#pragma once

#include <string>

#include "job.h"
#include "winutil_win32.h"

namespace pagesnap {

// Width of every picture, in pixels: pages are laid out for a common desktop window.
constexpr unsigned kPictureWidth = 1280;
// Taller pages are cut here; a JPEG may be taller, but nobody scrolls through more.
constexpr unsigned kPictureMaxHeight = 16384;

// Times from the click, in milliseconds. The program polls for the picture for 10.5 s;
// the picture must be in place by then, and the browser gone soon after.
constexpr Tick kBrowserReadyBy = 6000;
constexpr Tick kPageLoadedBy = 7000;
constexpr Tick kCaptureDoneBy = 9000;
constexpr Tick kBrowserKilledAt = 10500;

// Runs on a thread of its own, in a COM apartment. `configuredBrowser` is the browser
// named in Pagesnap.ini, or empty.
void RenderJob(const Job& job, Tick clickedAt, const std::string& configuredBrowser);

}  // namespace pagesnap
