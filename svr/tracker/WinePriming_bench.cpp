// What the Wine watch priming costs at service start on a large drive: a
// generated tree of 20,000 folders, walked once as the watcher does after
// arming, against one listing of the tree's top folder in the same run.
//   PELKO_WINE_OWN_PREFIX=1 cmake/wine-run build/x64/wine build/x64/svr/tracker/wine_priming_bench.exe

#include <windows.h>

#include <cstdio>
#include <string>

#include "UniqueHandle.h"
#include "WineQuirks.h"

int main() {
  using namespace pelko;
  const std::wstring top = L"D:\\priming-bench";
  constexpr int kBranches = 100, kLeaves = 199;  // 100 + 100 * 199 + 1 = 20,001 folders
  CreateDirectoryW(top.c_str(), nullptr);
  for (int branch = 0; branch < kBranches; ++branch) {
    const std::wstring branchFolder = top + L"\\b" + std::to_wstring(branch);
    CreateDirectoryW(branchFolder.c_str(), nullptr);
    for (int leaf = 0; leaf < kLeaves; ++leaf) CreateDirectoryW((branchFolder + L"\\l" + std::to_wstring(leaf)).c_str(), nullptr);
  }

  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  auto elapsedMs = [&] { return 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) / static_cast<double>(frequency.QuadPart); };

  QueryPerformanceCounter(&begin);
  WIN32_FIND_DATAW found;
  int entries = 0;
  {
    unique_hfind search(FindFirstFileW((top + L"\\*").c_str(), &found));
    if (search) {
      do ++entries;
      while (FindNextFileW(search.get(), &found));
    }
  }
  QueryPerformanceCounter(&end);
  const double oneListingMs = elapsedMs();

  PrimingCost cost;
  QueryPerformanceCounter(&begin);
  PrimeWineWatch(top, cost);
  QueryPerformanceCounter(&end);
  const double primingMs = elapsedMs();

  std::printf("one listing of the top folder (%d entries): %8.2f ms\n", entries, oneListingMs);
  std::printf("priming walk:                 %8llu folders in %8.1f ms (%.1f us per folder, %.0fx one listing)\n",
              static_cast<unsigned long long>(cost.folders), primingMs, 1000.0 * primingMs / static_cast<double>(cost.folders),
              primingMs / oneListingMs);
  return 0;
}
