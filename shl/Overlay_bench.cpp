// What Explorer's overlay questions cost per displayed item: the overlay
// pass of the harness over 1,000 items (half of them labelled), asking as
// Explorer does (until the first identifier claims the item) and asking all
// six, with the extension as built (one kept service object, answers cached
// for a second) and as a lookup per question with an object per lookup
// would do it. Service objects and ILabelUtil calls are counted.
//   PELKO_WINE_OWN_PREFIX=1 cmake/wine-run build/x64/wine build/x64/shl/shl_overlay_bench.exe

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "IconOverlay.h"
#include "LabelClient.h"
#include "OverlayPass.h"
#include "RefreshWorker.h"
#include "ServiceTestSupport.h"
#include "WineTestSupport.h"
#include "ShellInterfaceIds.h"
#include "ShellModule.h"

namespace {

using namespace pelko;

template <LabelValue Label>
testing::OverlayIdentifier MakeIdentifier() {
  testing::OverlayIdentifier identifier;
  identifier.keyName = L"01PelkoLabelShlOverlay" + std::to_wstring(Label);
  CreateIconOverlay<Label>(nullptr, IID_IShellIconOverlayIdentifier, identifier.object.put_void());
  return identifier;
}

}  // namespace

int main() {
  constexpr int kItems = 1000;
  if (!testing::InstallProgram() || testing::RunInstalled(L"/Service") != 0u) {
    std::fprintf(stderr, "could not install the service\n");
    return 1;
  }
  CoInitialize(nullptr);
  InitializeModuleGlobals(GetModuleHandleW(nullptr));
  std::vector<std::wstring> items;
  {
    com_ptr<ILabelUtil> labels = testing::CreateLabelUtilByProgId();
    if (!labels) return 1;
    for (int i = 0; i < kItems; ++i) {
      items.push_back(L"D:\\bench\\item" + std::to_wstring(i) + L".txt");
      if (i % 2 == 0) testing::SetLabelOf(labels.get(), items.back(), 1 + (i / 2) % 6);
    }
  }
  std::vector<testing::OverlayIdentifier> identifiers{MakeIdentifier<1>(), MakeIdentifier<2>(), MakeIdentifier<3>(),
                                                       MakeIdentifier<4>(), MakeIdentifier<5>(), MakeIdentifier<6>()};
  // The refresh worker's own look-ups (at most 16 after a burst) are left out.
  g_refreshWorker.Start();
  g_refreshWorker.PauseForTesting(true);

  std::printf("%-34s %-16s %12s %12s %12s\n", "extension", "questions", "objects/item", "calls/item", "ms/item");
  for (const bool asBuilt : {true, false}) {
    g_labelClient.SetCachingAndReuseForTesting(asBuilt);
    for (const bool allSix : {false, true}) {
      g_labelClient.LookupLabel(u"D:\\bench\\warm-up.txt");  // the thread and, as built, the object
      const auto objectsBefore = g_labelClient.ServiceObjectsCreated();
      const auto callsBefore = g_labelClient.ServiceCalls();
      const double begin = testing::PreciseNowMs();
      for (const std::wstring& item : items) testing::AskMembership(identifiers, item, allSix, nullptr);
      const double elapsed = testing::PreciseNowMs() - begin;
      std::printf("%-34s %-16s %12.2f %12.2f %12.3f\n",
                  asBuilt ? "as built (cache, one object)" : "object per lookup, no cache",
                  allSix ? "all six" : "until first claim",
                  static_cast<double>(g_labelClient.ServiceObjectsCreated() - objectsBefore) / kItems,
                  static_cast<double>(g_labelClient.ServiceCalls() - callsBefore) / kItems, elapsed / kItems);
      Sleep(CLabelClient::kCacheLifetimeMs + 100);  // each pass starts with nothing cached
    }
  }
  g_refreshWorker.Stop(2000);
  g_labelClient.StopWorker(2000);
  CoUninitialize();
  return 0;
}
