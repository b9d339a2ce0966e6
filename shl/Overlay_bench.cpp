// What Explorer's questions cost per displayed item in a folder of 10,000
// items, half of them labelled: the overlay pass of the harness (asking as
// Explorer does, until the first identifier claims the item, and asking all
// six) plus the details column, with the extension as built (the labels of
// the whole folder in one call) and as it asks a service that has no folder
// query (one call per item, answers cached for a second). The baseline is
// one bare round trip to the service (GetLabel on a held object), measured
// in the same run. Service objects and calls are counted.
//   PELKO_WINE_OWN_PREFIX=1 cmake/wine-run build/x64/wine build/x64/shl/shl_overlay_bench.exe

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ColumnProvider.h"
#include "IconOverlay.h"
#include "PelkoLabelShl.h"
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
  constexpr int kItems = 10000;
  if (!testing::InstallProgram() || testing::RunInstalled(L"/Service") != 0u) {
    std::fprintf(stderr, "could not install the service\n");
    return 1;
  }
  CoInitialize(nullptr);
  InitializeModuleGlobals(GetModuleHandleW(nullptr));
  std::vector<std::wstring> items;
  double roundTripMs = 0;
  {
    com_ptr<ILabelUtil> labels = testing::CreateLabelUtilByProgId();
    if (!labels) return 1;
    for (int i = 0; i < kItems; ++i) {
      items.push_back(L"D:\\bench\\item" + std::to_wstring(i) + L".txt");
      if (i % 2 == 0) testing::SetLabelOf(labels.get(), items.back(), 1 + (i / 2) % 6);
    }
    constexpr int kRoundTrips = 1000;
    const double begin = testing::PreciseNowMs();
    for (int i = 0; i < kRoundTrips; ++i) testing::LabelOf(labels.get(), items[static_cast<std::size_t>(i)]);
    roundTripMs = (testing::PreciseNowMs() - begin) / kRoundTrips;
  }
  std::vector<testing::OverlayIdentifier> identifiers{MakeIdentifier<1>(), MakeIdentifier<2>(), MakeIdentifier<3>(),
                                                       MakeIdentifier<4>(), MakeIdentifier<5>(), MakeIdentifier<6>()};
  com_ptr<IColumnProvider> column;
  if (FAILED(CreateColumnProvider(nullptr, IID_IColumnProvider, column.put_void()))) return 1;
  const SHCOLUMNID columnId{CLSID_ColumnProviderEx, 0};
  // The refresh worker's own look-ups (at most 16 after a burst) are left out.
  g_refreshWorker.Start();
  g_refreshWorker.PauseForTesting(true);

  std::printf("%d items in one folder, half labelled; one bare round trip: %.3f ms\n\n", kItems, roundTripMs);
  std::printf("%-30s %-22s %8s %8s %10s %14s\n", "extension", "questions", "objects", "calls", "us/item",
              "x round trip");
  for (const bool folderQuery : {true, false}) {
    g_labelClient.SetFolderQueryForTesting(folderQuery);
    for (const bool allSix : {false, true}) {
      g_labelClient.LookupLabel(u"C:\\warm-up.txt");  // the thread and the object
      const auto objectsBefore = g_labelClient.ServiceObjectsCreated();
      const auto callsBefore = g_labelClient.ServiceCalls();
      const double begin = testing::PreciseNowMs();
      for (const std::wstring& item : items) {
        testing::AskMembership(identifiers, item, allSix, nullptr);
        SHCOLUMNDATA data{};
        lstrcpynW(data.wszFile, item.c_str(), MAX_PATH);
        unique_variant value;
        column->GetItemData(&columnId, &data, value.get());
      }
      const double perItemMs = (testing::PreciseNowMs() - begin) / kItems;
      std::printf("%-30s %-22s %8llu %8llu %10.2f %14.4f\n",
                  folderQuery ? "as built (folder query)" : "item by item (older service)",
                  allSix ? "all six + column" : "first claim + column",
                  static_cast<unsigned long long>(g_labelClient.ServiceObjectsCreated() - objectsBefore),
                  static_cast<unsigned long long>(g_labelClient.ServiceCalls() - callsBefore), perItemMs * 1000,
                  perItemMs / roundTripMs);
      Sleep(CLabelClient::kCacheLifetimeMs + 100);  // each pass starts with nothing cached
    }
  }
  g_refreshWorker.Stop(2000);
  g_labelClient.StopWorker(2000);
  CoUninitialize();
  return 0;
}
