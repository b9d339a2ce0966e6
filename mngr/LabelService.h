#pragma once
// The manager's way into the label service: one LabelUtil object per
// operation, made by its ProgID as every client makes it.

#include <windows.h>

#include <string>
#include <vector>

#include "ComPtr.h"
#include "Labels.h"
#include "PelkoLabelSvr.h"

namespace pelko {

// CLSIDFromProgID, CoCreateInstance (in-process, handler, local or remote),
// OleRun, QueryInterface; null when any step failed.
com_ptr<ILabelUtil> CreateLabelUtil();

struct LabelledItem {
  std::wstring path;
  LabelValue label = kNoLabel;
};

// Every labelled item the service holds, in the service's order. Empty when
// the call fails or its answer is not an array of paths (BSTR) with an
// array of labels (unsigned 32-bit); never more items than both arrays hold.
std::vector<LabelledItem> GetAllLabels(ILabelUtil& labels);

}  // namespace pelko
