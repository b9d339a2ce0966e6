#include "StartRules.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace pelko {
namespace {

TEST(StartMode, OnlyALoneAboutArgumentShowsTheAboutBox) {
  struct Case {
    std::vector<std::u16string> arguments;
    StartMode expected;
  } cases[] = {
      {{}, StartMode::Normal},  // "ManageLabels": the program name alone
      {{u"About"}, StartMode::AboutOnly},  // "About About"
      {{u"about"}, StartMode::AboutOnly},
      {{u"ABOUT"}, StartMode::AboutOnly},
      {{u"-About"}, StartMode::AboutOnly},
      {{u"/aBoUt"}, StartMode::AboutOnly},
      {{u"--about"}, StartMode::Normal},  // one leading mark only
      {{u"//about"}, StartMode::Normal},
      {{u"-/about"}, StartMode::Normal},
      {{u"Aboutx"}, StartMode::Normal},
      {{u"Abou"}, StartMode::Normal},
      {{u" About"}, StartMode::Normal},
      {{u"ManageLabels"}, StartMode::Normal},
      {{u""}, StartMode::Normal},
      {{u"-"}, StartMode::Normal},
      {{u"About", u"About"}, StartMode::Normal},
      {{u"About", u""}, StartMode::Normal},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& argument : c.arguments) shown += "[" + std::string(argument.begin(), argument.end()) + "]";
    EXPECT_EQ(StartModeFromArguments(c.arguments), c.expected) << shown;
  }
}

TEST(Placement, KeptOnlyWhenTheTitleBandCanBeGrabbed) {
  const Rect primary{0, 0, 1920, 1040};
  const Rect leftOfPrimary{-1280, 0, 0, 984};
  const std::vector<Rect> one{primary};
  const std::vector<Rect> two{primary, leftOfPrimary};
  struct Case {
    const char* what;
    Rect window;
    std::vector<Rect> monitors;
    bool kept;
  } cases[] = {
      {"on the monitor", {100, 100, 900, 700}, one, true},
      {"off to the right", {2000, 100, 2800, 700}, one, false},
      {"minimised, far negative", {-32000, -32000, -31840, -31973}, one, false},
      {"partly off, title reachable", {-700, 100, 100, 700}, one, true},
      {"48 pixels left on the left", {-752, 100, 48, 700}, one, true},
      {"47 pixels left on the left", {-753, 100, 47, 700}, one, false},
      {"48 pixels left on the right", {1872, 100, 2672, 700}, one, true},
      {"47 pixels left on the right", {1873, 100, 2673, 700}, one, false},
      {"title above every monitor", {100, -40, 900, 600}, one, false},
      {"title band ends at the top", {100, -32, 900, 600}, one, false},
      {"title band reaches one row in", {100, -31, 900, 600}, one, true},
      {"below the work area", {100, 1040, 900, 1600}, one, false},
      {"maximised", {-8, -8, 1928, 1048}, one, true},
      {"narrow, all on", {100, 100, 130, 400}, one, true},
      {"narrow, partly off", {-10, 100, 20, 400}, one, false},
      {"short window", {100, 100, 900, 110}, one, true},
      {"on a monitor left of the primary", {-1000, 100, -200, 700}, two, true},
      {"there without that monitor", {-1000, 100, -200, 700}, one, false},
      {"empty window", {100, 100, 100, 700}, one, false},
      {"inverted window", {900, 700, 100, 100}, one, false},
      {"no monitors", {100, 100, 900, 700}, {}, false},
      {"inverted work area", {100, 100, 900, 700}, {{1920, 1040, 0, 0}}, false},
      {"all of int", {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, one, false},
      {"at the end of int", {INT_MAX - 100, INT_MAX - 10, INT_MAX, INT_MAX}, {{0, 0, INT_MAX, INT_MAX}}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlacementIsOnSomeMonitor(c.window, c.monitors), c.kept) << c.what;
  }
}

}  // namespace
}  // namespace pelko
