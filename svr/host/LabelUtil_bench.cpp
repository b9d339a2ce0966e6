// What one label lookup costs a client of the running service: a call on an
// object the client holds, against the whole sequence the shell extension
// runs per lookup (create, OleRun, QueryInterface, GetLabel, Release).
// Run in a prefix of its own (it installs the service):
//   PELKO_WINE_OWN_PREFIX=1 cmake/wine-run build/x64/wine build/x64/svr/host/labelutil_bench.exe

#include <windows.h>
#include <ole2.h>

#include <cstdio>

#include "ComPtr.h"
#include "PelkoLabelSvr.h"
#include "ServiceTestSupport.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

int main() {
  using namespace pelko;
  if (!testing::InstallProgram() || testing::RunInstalled(L"/Service") != 0u) {
    std::fprintf(stderr, "could not install the service\n");
    return 1;
  }
  CoInitialize(nullptr);
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &clsid))) return 1;
  unique_bstr path(SysAllocString(L"D:\\Projects\\p0123\\src\\module45\\file6789.cpp"));
  {
    com_ptr<ILabelUtil> held;
    const double startMs = testing::PreciseNowMs();
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ILabelUtil, held.put_void()))) return 1;
    std::printf("first creation (starts the service): %.1f ms\n", testing::PreciseNowMs() - startMs);
    held->SetLabel(path.get(), 3);

    constexpr int kCalls = 2000;
    ULONG value = 0;
    double begin = testing::PreciseNowMs();
    for (int i = 0; i < kCalls; ++i) held->GetLabel(path.get(), &value);
    const double roundTripMs = (testing::PreciseNowMs() - begin) / kCalls;

    constexpr int kLookups = 300;
    begin = testing::PreciseNowMs();
    for (int i = 0; i < kLookups; ++i) {
      com_ptr<IUnknown> unknown;
      if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, unknown.put_void()))) return 1;
      OleRun(unknown.get());
      com_ptr<ILabelUtil> labels;
      if (FAILED(unknown.query(labels))) return 1;
      labels->GetLabel(path.get(), &value);
    }
    const double perLookupMs = (testing::PreciseNowMs() - begin) / kLookups;

    std::printf("GetLabel round trip on a held object:        %8.3f ms per call (%d calls)\n", roundTripMs, kCalls);
    std::printf("create + OleRun + QI + GetLabel + Release:   %8.3f ms per lookup (%d lookups)\n", perLookupMs, kLookups);
    std::printf("per-lookup sequence / round trip:            %8.1fx\n", perLookupMs / roundTripMs);
  }
  CoUninitialize();
  return 0;
}
