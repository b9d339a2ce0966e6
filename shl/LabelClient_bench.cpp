// What one label lookup costs the extension against the real service: the
// lookup thread's LookupLabel (a path it has not asked about, so the service
// is asked; and one path again, answered from its short-lived cache), the
// old way with an object per lookup (CLSIDFromProgID, CoCreateInstance,
// OleRun, QueryInterface, GetLabel, Release), and a bare GetLabel on a held
// object. Run in a prefix of its own (it installs the service):
//   PELKO_WINE_OWN_PREFIX=1 cmake/wine-run build/x64/wine build/x64/shl/shl_client_bench.exe

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "ComPtr.h"
#include "LabelClient.h"
#include "PelkoLabelSvr.h"
#include "ServiceTestSupport.h"
#include "WineTestSupport.h"
#include "ShellModule.h"
#include "UniqueHandle.h"
#include "Utf16.h"

namespace {

using namespace pelko;

std::u16string BenchPath(int n) {
  return u"D:\\Projects\\p0123\\src\\module45\\file" + ToU16(std::to_wstring(n)) + u".cpp";
}

struct Run {
  double perLookupMs;
  int unavailable;
  std::uint64_t objects;
  std::uint64_t calls;
};

template <typename PathOf>
Run TimeLookups(int count, PathOf pathOf) {
  const std::uint64_t objectsBefore = g_labelClient.ServiceObjectsCreated();
  const std::uint64_t callsBefore = g_labelClient.ServiceCalls();
  int unavailable = 0;
  const double begin = testing::PreciseNowMs();
  for (int i = 0; i < count; ++i) {
    if (g_labelClient.LookupLabel(pathOf(i)) == LABEL_UNAVAILABLE) ++unavailable;
  }
  return {(testing::PreciseNowMs() - begin) / count, unavailable, g_labelClient.ServiceObjectsCreated() - objectsBefore,
          g_labelClient.ServiceCalls() - callsBefore};
}

}  // namespace

int main() {
  if (!testing::InstallProgram() || testing::RunInstalled(L"/Service") != 0u) {
    std::fprintf(stderr, "could not install the service\n");
    return 1;
  }
  InitializeModuleGlobals(GetModuleHandleW(nullptr));
  CoInitialize(nullptr);

  // The first lookups start the service, which takes longer than a lookup waits.
  const std::u16string labelled = BenchPath(-1);
  const double startMs = testing::PreciseNowMs();
  int tries = 0;
  while (g_labelClient.LookupLabel(BenchPath(-2 - tries)) == LABEL_UNAVAILABLE) {
    if (++tries > 2000) {
      std::fprintf(stderr, "the service never answered\n");
      return 1;
    }
    Sleep(10);
  }
  std::printf("first answer (the service started): %.0f ms\n", testing::PreciseNowMs() - startMs);
  if (!g_labelClient.ApplyLabel({labelled}, 3)) return 1;

  constexpr int kLookups = 2000;
  const Run asked = TimeLookups(kLookups, [](int i) { return BenchPath(i); });
  const Run cached = TimeLookups(kLookups, [&](int) { return labelled; });

  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &clsid))) return 1;
  unique_bstr path(SysAllocString(ToWide(labelled).c_str()));
  ULONG value = 0;

  constexpr int kOldLookups = 300;
  double begin = testing::PreciseNowMs();
  for (int i = 0; i < kOldLookups; ++i) {
    CLSID found;
    if (FAILED(CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &found))) return 1;
    com_ptr<IUnknown> unknown;
    if (FAILED(CoCreateInstance(found, nullptr, 0x17, IID_IUnknown, unknown.put_void()))) return 1;
    OleRun(unknown.get());
    com_ptr<ILabelUtil> labels;
    if (FAILED(unknown.query(labels))) return 1;
    labels->GetLabel(path.get(), &value);
  }
  const double oldMs = (testing::PreciseNowMs() - begin) / kOldLookups;
  if (value != 3) std::printf("warning: the old way read label %lu, not 3\n", value);

  constexpr int kCalls = 2000;
  double bareMs = 0;
  {
    com_ptr<ILabelUtil> held;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ILabelUtil, held.put_void()))) return 1;
    begin = testing::PreciseNowMs();
    for (int i = 0; i < kCalls; ++i) held->GetLabel(path.get(), &value);
    bareMs = (testing::PreciseNowMs() - begin) / kCalls;
  }

  auto printRun = [](const char* what, const Run& run) {
    std::printf("%-52s %8.3f ms per lookup (%d lookups; %d unavailable; %llu objects made, %llu ILabelUtil calls)\n",
                what, run.perLookupMs, kLookups, run.unavailable, static_cast<unsigned long long>(run.objects),
                static_cast<unsigned long long>(run.calls));
  };
  printRun("LookupLabel, a new path each time:", asked);
  printRun("LookupLabel, one path again (the cache answers):", cached);
  std::printf("%-52s %8.3f ms per lookup (%d lookups)\n", "old way, an object per lookup:", oldMs, kOldLookups);
  std::printf("%-52s %8.3f ms per call (%d calls)\n", "bare GetLabel on a held object:", bareMs, kCalls);
  std::printf("old way / LookupLabel asking the service: %.1fx\n", oldMs / asked.perLookupMs);
  std::printf("totals: %llu service objects made, %llu ILabelUtil calls\n",
              static_cast<unsigned long long>(g_labelClient.ServiceObjectsCreated()),
              static_cast<unsigned long long>(g_labelClient.ServiceCalls()));

  g_labelClient.StopWorker(5000);
  CoUninitialize();
  return 0;
}
