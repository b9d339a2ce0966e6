// Figures for the label table at a size a heavy user reaches: 1,000,000
// labelled files, ten to a folder. Nothing here is asserted; the summary at
// the end sets each operation against a baseline measured in the same run.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "LabelStore.h"

using namespace pelko;

namespace {

constexpr int kProjects = 1000;
constexpr int kModules = 100;
constexpr int kFilesPerFolder = 10;
constexpr int kFolders = kProjects * kModules;

std::u16string Widen(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

std::u16string FolderPath(int folder) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "D:\\Projects\\p%04d\\src\\module%02d", folder / kModules, folder % kModules);
  return Widen(buffer);
}

std::u16string FileName(int folder, int file) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "file%04d.cpp", (folder * kFilesPerFolder + file) % 10000);
  return Widen(buffer);
}

std::u16string FilePath(int folder, int file) { return FolderPath(folder) + u'\\' + FileName(folder, file); }

// Spreads consecutive picks over the whole table (a multiplier prime to kFolders).
int PickFolder(std::int64_t n) { return static_cast<int>((n * 7919) % kFolders); }

CLabelStore& Table() {
  static CLabelStore* const store = [] {
    auto* table = new CLabelStore;
    for (int folder = 0; folder < kFolders; ++folder) {
      for (int file = 0; file < kFilesPerFolder; ++file) {
        table->SetLabel(FilePath(folder, file), static_cast<LabelValue>(file % 6 + 1));
      }
    }
    return table;
  }();
  return *store;
}

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// --- Lookups ---

void GetLabelBench(benchmark::State& state, bool hit) {
  const CLabelStore& store = Table();
  std::vector<std::u16string> probes;
  for (int n = 0; n < 4096; ++n) {
    std::u16string path = FilePath(PickFolder(n), n % kFilesPerFolder);
    if (!hit) path.back() = u'h';  // file6789.cph: same folders, no such entry
    probes.push_back(std::move(path));
  }
  std::size_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(store.GetLabel(probes[n++ % probes.size()]));
}

void SetLabelBench(benchmark::State& state) {
  CLabelStore& store = Table();
  std::vector<std::u16string> targets;
  for (int n = 0; n < 4096; ++n) targets.push_back(FilePath(PickFolder(n), n % kFilesPerFolder));
  std::size_t n = 0;
  for (auto _ : state) {
    // Alternating values make every call a real change.
    store.SetLabel(targets[n % targets.size()], static_cast<LabelValue>(n / targets.size() % 2 + 1));
    ++n;
  }
}

// --- Folder operations against a walk of the whole table ---

// What removing a folder cost when every entry was visited in order and a
// relative key built for each.
void FullWalkBench(benchmark::State& state) {
  const CLabelStore& store = Table();
  std::int64_t n = 0;
  for (auto _ : state) {
    const std::u16string folder = FolderPath(PickFolder(n++));
    std::size_t matched = 0;
    for (const auto& entry : store.Labels()) matched += !GetRelativePath(folder, entry.first).empty();
    benchmark::DoNotOptimize(matched);
  }
}

// Lists one folder of the table, so ItemAdded can put back what
// ItemRemoved took away between two timed calls.
class TableFolder : public IFileSystem {
 public:
  int folder = 0;
  bool IsFolder(std::u16string_view path) override { return PathsEqual(path, FolderPath(folder)); }
  std::vector<FolderEntry> ListFolder(std::u16string_view path) override {
    std::vector<FolderEntry> entries;
    if (!IsFolder(path)) return entries;
    for (int file = 0; file < kFilesPerFolder; ++file) entries.push_back({FileName(folder, file)});
    return entries;
  }
};

void ItemRemovedBench(benchmark::State& state) {
  CLabelStore& store = Table();
  TableFolder listing;
  store.SetFileSystem(&listing);
  std::int64_t n = 0;
  for (auto _ : state) {
    listing.folder = PickFolder(n++);
    const std::u16string folder = FolderPath(listing.folder);
    const auto start = Clock::now();
    store.ItemRemoved(folder);
    state.SetIterationTime(Seconds(Clock::now() - start));
    store.ItemAdded(folder);
  }
  store.SetFileSystem(nullptr);
  if (!store.RemovedPool().empty()) state.SkipWithError("labels were left in the pool");
}

void RenameFolderBench(benchmark::State& state) {
  CLabelStore& store = Table();
  std::int64_t n = 0;
  for (auto _ : state) {
    const std::u16string folder = FolderPath(PickFolder(n++));
    const std::u16string renamed = folder + u"-renamed";
    const auto start = Clock::now();
    store.RenameFolder(folder, renamed);
    state.SetIterationTime(Seconds(Clock::now() - start));
    store.RenameFolder(renamed, folder);
  }
}

// --- Save and Load against plain file I/O ---

constexpr std::size_t kChunk = 64 * 1024;

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool ReadAll(const std::string& path, std::vector<std::uint8_t>& contents) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  contents.resize(ok ? static_cast<std::size_t>(info.st_size) : 0);
  for (std::size_t done = 0; ok && done < contents.size();) {
    const ssize_t got = ::read(fd, contents.data() + done, contents.size() - done);
    ok = got > 0;
    if (ok) done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return ok;
}

// labels.lst as a POSIX file: written beside and renamed over, as the Win32
// file is, without a flush to the disk (neither baseline has one).
class PosixDatabase : public ILabelDatabase {
 public:
  explicit PosixDatabase(std::string path) : m_path(std::move(path)) {}

  ReadOutcome Read(std::vector<std::uint8_t>& contents) override {
    if (::access(m_path.c_str(), F_OK) != 0) return ReadOutcome::Missing;
    return ReadAll(m_path, contents) ? ReadOutcome::Read : ReadOutcome::Unreadable;
  }

  bool Replace(const std::function<bool(const ByteSink&)>& produce) override {
    const std::string temporary = m_path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool written = produce([fd](std::span<const std::uint8_t> chunk) { return WriteAll(fd, chunk.data(), chunk.size()); });
    const bool closed = ::close(fd) == 0;
    return written && closed && ::rename(temporary.c_str(), m_path.c_str()) == 0;
  }

  std::optional<std::u16string> SetAside(bool) override { return std::nullopt; }  // the bench file is never damaged
  std::u16string LastError() const override { return u"I/O error"; }

  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

const std::string& BenchFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/pelko-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    return std::string(pattern);
  }();
  return folder;
}

PosixDatabase& Database() {
  static PosixDatabase db(BenchFolder() + "/labels.lst");
  return db;
}

// The saved table: what Load reads and the plain I/O baselines copy.
const std::vector<std::uint8_t>& SavedBytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    CLabelStore& store = Table();
    store.SetDatabase(&Database());
    std::vector<std::uint8_t> contents;
    if (!store.Save() || !ReadAll(Database().Path(), contents)) contents.clear();
    return contents;
  }();
  return bytes;
}

void SaveBench(benchmark::State& state) {
  CLabelStore& store = Table();
  const std::size_t size = SavedBytes().size();
  for (auto _ : state) {
    if (!store.Save()) state.SkipWithError("Save failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

void PlainWriteBench(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = SavedBytes();
  const std::string path = BenchFolder() + "/plain.bin";
  const std::string temporary = path + ".new";
  for (auto _ : state) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0;
    for (std::size_t at = 0; ok && at < bytes.size(); at += kChunk) {
      ok = WriteAll(fd, bytes.data() + at, std::min(kChunk, bytes.size() - at));
    }
    ok = fd >= 0 && ::close(fd) == 0 && ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void LoadBench(benchmark::State& state) {
  CLabelStore& store = Table();
  const std::size_t size = SavedBytes().size();
  for (auto _ : state) {
    if (store.Load().status != LoadStatus::Loaded) state.SkipWithError("Load failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
  state.counters["entries"] = static_cast<double>(store.Labels().size());
}

void PlainReadBench(benchmark::State& state) {
  const std::size_t size = SavedBytes().size();
  std::vector<std::uint8_t> contents;
  for (auto _ : state) {
    if (!ReadAll(Database().Path(), contents) || contents.size() != size) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(contents.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

// The console table as usual, plus the time per iteration of every
// benchmark by name, for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      Mean& mean = m_seconds[run.run_name.function_name];
      mean.total += run.real_accumulated_time / static_cast<double>(run.iterations);
      ++mean.count;
    }
  }

  // Seconds per iteration, or 0 when the benchmark did not run.
  double Seconds(const std::string& name) const {
    const auto it = m_seconds.find(name);
    return it == m_seconds.end() ? 0 : it->second.total / it->second.count;
  }

 private:
  struct Mean {
    double total = 0;
    int count = 0;
  };
  std::map<std::string, Mean> m_seconds;
};

void PrintAgainst(const SummaryReporter& times, const char* name, const char* baseline) {
  const double op = times.Seconds(name);
  const double base = times.Seconds(baseline);
  if (op <= 0 || base <= 0) return;
  std::printf("  %-14s %12.3f us  = %10.6f x %s (%.3f ms)  [%.0f times faster]\n", name, op * 1e6, op / base, baseline,
              base * 1e3, base / op);
}

void PrintThroughput(const SummaryReporter& times, const char* name, const char* baseline, std::size_t bytes) {
  const double op = times.Seconds(name);
  const double base = times.Seconds(baseline);
  if (op <= 0 || base <= 0) return;
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("  %-14s %8.1f MB/s  vs %-11s %8.1f MB/s  = %.1f x its time\n", name, mb / op, baseline, mb / base, op / base);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  benchmark::RegisterBenchmark("GetLabel/hit", GetLabelBench, true);
  benchmark::RegisterBenchmark("GetLabel/miss", GetLabelBench, false);
  benchmark::RegisterBenchmark("SetLabel", SetLabelBench);
  benchmark::RegisterBenchmark("FullWalk", FullWalkBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ItemRemoved", ItemRemovedBench)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("RenameFolder", RenameFolderBench)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Save", SaveBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PlainWrite", PlainWriteBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Load", LoadBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PlainRead", PlainReadBench)->Unit(benchmark::kMillisecond);

  std::printf("Building a table of %d labelled paths...\n", kFolders * kFilesPerFolder);
  Table();

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nSummary (%d entries, %d to a folder; file of %zu bytes):\n", kFolders * kFilesPerFolder,
              kFilesPerFolder, SavedBytes().size());
  PrintAgainst(reporter, "ItemRemoved", "FullWalk");
  PrintAgainst(reporter, "RenameFolder", "FullWalk");
  PrintThroughput(reporter, "Save", "PlainWrite", SavedBytes().size());
  PrintThroughput(reporter, "Load", "PlainRead", SavedBytes().size());

  std::remove((BenchFolder() + "/labels.lst").c_str());
  std::remove((BenchFolder() + "/plain.bin").c_str());
  ::rmdir(BenchFolder().c_str());
  benchmark::Shutdown();
  return 0;
}
