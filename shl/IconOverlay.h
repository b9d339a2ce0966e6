#pragma once
// CIconOverlay1..CIconOverlay6: the overlay identifiers, one per label.
// Identifier N claims exactly the items whose label is N; identifier 1 also
// refreshes the excluded-folder list and starts the refresh worker.

#include <windows.h>
#include <shlobj.h>

#include <string_view>

#include "ShellInterfaceIds.h"

#include "ComObject.h"
#include "Labels.h"

namespace pelko {

template <LabelValue Label>
class CIconOverlay : public IShellIconOverlayIdentifier {
 public:
  static const QITAB* InterfaceTable() {
    static const QITAB table[] = {QITABENT(CIconOverlay, IShellIconOverlayIdentifier), {}};
    return table;
  }

  IFACEMETHODIMP IsMemberOf(PCWSTR path, DWORD attributes) override;
  IFACEMETHODIMP GetOverlayInfo(PWSTR iconFile, int iconFileSize, int* index, DWORD* flags) override;
  IFACEMETHODIMP GetPriority(int* priority) override;
};

using CIconOverlay1 = CIconOverlay<kLabelRed>;
using CIconOverlay2 = CIconOverlay<kLabelOrange>;
using CIconOverlay3 = CIconOverlay<kLabelYellow>;
using CIconOverlay4 = CIconOverlay<kLabelGreen>;
using CIconOverlay5 = CIconOverlay<kLabelBlue>;
using CIconOverlay6 = CIconOverlay<kLabelGray>;

// Whether the identifier of overlayLabel claims path; queues the answers for
// the refresh worker (all of identifier 1's, the others' own).
bool MatchOverlay(std::u16string_view path, LabelValue overlayLabel);

template <LabelValue Label>
HRESULT CreateIconOverlay(IUnknown* outer, REFIID iid, void** result) noexcept {
  return CreateComInstance<CIconOverlay<Label>>(outer, iid, result);
}

}  // namespace pelko
