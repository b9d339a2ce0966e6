// How long a label lookup waits while the service saves a table of
// 1,000,000 labels: StoreSave runs several times while another thread calls
// StoreGetLabel without pause. The baseline is one whole save, which is
// what a lookup waited when the save held the store mutex throughout.
// Run in a prefix of its own:
//   PELKO_WINE_OWN_PREFIX=1 cmake/wine-run build/x64/wine build/x64/svr/store/store_save_bench.exe

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "LabelFileCodec.h"
#include "StoreEntryPoints.h"
#include "Utf16.h"
#include "Win32LabelDatabase.h"
#include "WineTestSupport.h"

namespace {

using namespace pelko;

constexpr int kFolders = 100000;
constexpr int kFilesPerFolder = 10;
constexpr int kSaves = 5;

std::wstring FilePath(int folder, int file) {
  wchar_t path[64];
  swprintf(path, 64, L"D:\\Projects\\p%04d\\src\\module%02d\\file%04d.cpp", folder / 100, folder % 100,
           (folder * kFilesPerFolder + file) % 10000);
  return path;
}

// labels.lst of the whole table, written in path order as a save would.
bool WriteTable(Win32LabelDatabase& database) {
  return database.Replace([](const ByteSink& sink) {
    LabelFileEncoder encoder(sink);
    bool ok = encoder.Begin(LABELS_VERSION, kFolders * kFilesPerFolder);
    for (int folder = 0; ok && folder < kFolders; ++folder) {
      for (int file = 0; ok && file < kFilesPerFolder; ++file) {
        const std::wstring path = FilePath(folder, file);
        ok = encoder.Record(ToU16(path), static_cast<LabelValue>(file % 6 + 1));
      }
    }
    return ok && encoder.Finish();
  });
}

// Calls StoreGetLabel until told to stop; keeps the longest call.
class Reader {
 public:
  Reader() {
    for (int n = 0; n < 4096; ++n) m_probes.push_back(FilePath(n * 7919 % kFolders, n % kFilesPerFolder));
    m_thread = std::thread([this] {
      for (std::size_t n = 0; !m_stop; ++n) {
        const double start = testing::PreciseNowMs();
        const LabelValue label = StoreGetLabel(m_probes[n % m_probes.size()].c_str());
        const double waited = testing::PreciseNowMs() - start;
        if (label == kNoLabel) m_misses = m_misses + 1;
        m_calls = m_calls + 1;
        if (waited > m_longestMs) m_longestMs = waited;
      }
    });
  }
  ~Reader() { Stop(); }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  // The longest wait and the calls since the last Reset.
  void Reset() {
    m_longestMs = 0;
    m_calls = 0;
  }
  double LongestMs() const { return m_longestMs; }
  long Calls() const { return m_calls; }
  long Misses() const { return m_misses; }

 private:
  std::vector<std::wstring> m_probes;
  std::atomic<bool> m_stop{false};
  std::atomic<double> m_longestMs{0};
  std::atomic<long> m_calls{0};
  std::atomic<long> m_misses{0};
  std::thread m_thread;
};

}  // namespace

int main() {
  Win32LabelDatabase database(testing::MakeScratchFolder(L"store-save-bench"));
  if (!CreateStoreMutex()) return 1;
  AttachStoreDatabase(&database);
  if (!WriteTable(database)) {
    std::fprintf(stderr, "could not write the table: %ls\n", ToWide(database.LastError()).c_str());
    return 1;
  }
  const double loadStart = testing::PreciseNowMs();
  if (StoreLoad().status != LoadStatus::Loaded) return 1;
  std::printf("table of %d labels loaded in %.0f ms\n", kFolders * kFilesPerFolder,
              testing::PreciseNowMs() - loadStart);

  Reader reader;
  Sleep(1000);
  std::printf("StoreGetLabel with no save running: %ld calls in 1 s, longest %.2f ms\n", reader.Calls(),
              reader.LongestMs());

  double totalMs = 0;
  double longestWaitMs = 0;
  long calls = 0;
  for (int save = 1; save <= kSaves; ++save) {
    reader.Reset();
    const double start = testing::PreciseNowMs();
    if (!StoreSave()) {
      std::fprintf(stderr, "save %d failed\n", save);
      return 1;
    }
    const double tookMs = testing::PreciseNowMs() - start;
    std::printf("save %d: %.0f ms; StoreGetLabel meanwhile: %ld calls, longest %.2f ms\n", save, tookMs,
                reader.Calls(), reader.LongestMs());
    totalMs += tookMs;
    longestWaitMs = std::max(longestWaitMs, reader.LongestMs());
    calls += reader.Calls();
  }
  reader.Stop();
  const double wholeSaveMs = totalMs / kSaves;
  std::printf("during %d saves: %ld calls of StoreGetLabel%s, longest wait %.2f ms\n", kSaves, calls,
              reader.Misses() ? " (some found no label!)" : "", longestWaitMs);
  std::printf("longest wait / whole save = %.2f ms / %.0f ms = %.4f\n", longestWaitMs, wholeSaveMs,
              longestWaitMs / wholeSaveMs);
  CloseStoreMutex();
  return 0;
}
