#pragma once
// What the manager decides before it has a window: whether the command line
// asks for the About box alone, and whether a remembered window placement
// can still be reached on today's monitors.

#include <string>
#include <vector>

namespace pelko {

enum class StartMode { Normal, AboutOnly };

// The shell extension starts the manager with "ManageLabels" (a lone token,
// the program name, so no argument) or "About About". Exactly one argument
// that is "About" in any ASCII case, after dropping one leading "-" or "/",
// shows the About box alone; every other command line starts normally.
StartMode StartModeFromArguments(const std::vector<std::u16string>& argumentsAfterProgramName);

// A screen rectangle as Win32 has it: right and bottom are exclusive.
struct Rect {
  int left, top, right, bottom;
};

// Title band of a window: its top 32 pixels (all of it when shorter).
inline constexpr int kTitleBandHeight = 32;
// A band this wide (all of it when narrower) is enough to drag the window.
inline constexpr int kGrabWidth = 48;

// True when a saved placement can be used: on one monitor's work area lies a
// piece of the window's title band as wide as kGrabWidth (or the whole band
// width when narrower). Any height counts, since a maximised window's band
// starts above its monitor. Empty or inverted rectangles never qualify.
bool PlacementIsOnSomeMonitor(const Rect& window, const std::vector<Rect>& monitorWorkAreas);

}  // namespace pelko
