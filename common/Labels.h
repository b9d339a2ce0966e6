#pragma once
// Label values shared by the service, the shell extension and the manager.

#include <cstdint>

namespace pelko {

// 0 means "no label"; the service stores any other value it is given, the
// extension and the manager give meaning to 1..6 only.
using LabelValue = std::uint32_t;

inline constexpr LabelValue kNoLabel = 0;
inline constexpr LabelValue kLabelRed = 1;
inline constexpr LabelValue kLabelOrange = 2;
inline constexpr LabelValue kLabelYellow = 3;
inline constexpr LabelValue kLabelGreen = 4;
inline constexpr LabelValue kLabelBlue = 5;
inline constexpr LabelValue kLabelGray = 6;
inline constexpr LabelValue kFirstLabel = kLabelRed;
inline constexpr LabelValue kLastLabel = kLabelGray;
inline constexpr int kLabelCount = 6;

// Stands for a lookup that could not reach the service; never sent to it.
inline constexpr LabelValue LABEL_UNAVAILABLE = 7;

constexpr bool IsKnownLabel(LabelValue label) { return label >= kFirstLabel && label <= kLastLabel; }

// Label N owns configuration section MenuItem(N+1), overlay class
// CIconOverlayN and scheme section LabelN. Returns the MenuItem number, or 0
// for a value that is not one of the six labels.
constexpr int LabelMenuSection(LabelValue label) { return IsKnownLabel(label) ? static_cast<int>(label) + 1 : 0; }

}  // namespace pelko
