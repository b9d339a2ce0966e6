// Figures for the label table at a size a heavy user reaches: 1,000,000
// labelled files, ten to a folder. Nothing here is asserted; the summary at
// the end sets each operation against a baseline measured in the same run:
// lookups against the same paths in a plain folding ordered map (the table
// before it had its hash index), folder operations against a walk of the
// whole table, Save and Load against plain file I/O.

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

LabelValue LabelOf(int file) { return static_cast<LabelValue>(file % 6 + 1); }

// Resident memory of the process, from /proc/self/statm.
double ResidentBytes() {
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// What building each table added to the resident memory, per entry.
double g_tableBytesPerEntry = 0;
double g_oldMapBytesPerEntry = 0;

// Builds a table of every labelled path with add(path, label), and notes
// what it added to the resident memory, per entry.
template <typename Table, typename Add>
Table* Built(double& bytesPerEntry, Add add) {
  const double before = ResidentBytes();
  auto* table = new Table;
  for (int folder = 0; folder < kFolders; ++folder) {
    for (int file = 0; file < kFilesPerFolder; ++file) add(*table, FilePath(folder, file), LabelOf(file));
  }
  bytesPerEntry = (ResidentBytes() - before) / (kFolders * kFilesPerFolder);
  return table;
}

CLabelStore& Table() {
  static CLabelStore* const store =
      Built<CLabelStore>(g_tableBytesPerEntry, [](CLabelStore& table, const std::u16string& path, LabelValue label) {
        table.SetLabel(path, label);
      });
  return *store;
}

// The baseline of the lookups: the same paths in the folding ordered map
// alone, as the table kept them before it had a hash index.
using OldMap = std::map<std::u16string, LabelValue, PathLess>;

OldMap& OldTable() {
  static OldMap* const map =
      Built<OldMap>(g_oldMapBytesPerEntry, [](OldMap& old, const std::u16string& path, LabelValue label) {
        old.emplace(path, label);
      });
  return *map;
}

// The old table's operations, as CLabelStore did them on the map alone.
LabelValue OldGetLabel(const OldMap& map, std::u16string_view path) {
  const auto it = map.find(path);
  return it == map.end() ? kNoLabel : it->second;
}

void OldSetLabel(OldMap& map, std::u16string_view path, LabelValue label) {
  const auto it = map.find(path);
  if (label == kNoLabel) {
    if (it != map.end()) map.erase(it);
  } else if (it != map.end()) {
    it->second = label;
  } else {
    map.emplace(path, label);
  }
}

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// --- Lookups, in the table and in the old map ---

struct NewTable {
  static LabelValue Get(std::u16string_view path) { return Table().GetLabel(path); }
  static void Set(std::u16string_view path, LabelValue label) { Table().SetLabel(path, label); }
};

struct OldTableOps {
  static LabelValue Get(std::u16string_view path) { return OldGetLabel(OldTable(), path); }
  static void Set(std::u16string_view path, LabelValue label) { OldSetLabel(OldTable(), path, label); }
};

// 4096 paths spread over the table; kind "hit" names labelled files, "miss"
// unlabelled files of the same folders (file6789.cph), "new" the same.
std::vector<std::u16string> Probes(bool labelled) {
  std::vector<std::u16string> probes;
  for (int n = 0; n < 4096; ++n) {
    std::u16string path = FilePath(PickFolder(n), n % kFilesPerFolder);
    if (!labelled) path.back() = u'h';
    probes.push_back(std::move(path));
  }
  return probes;
}

template <typename Ops>
void GetLabelBench(benchmark::State& state, bool hit) {
  Table();
  OldTable();
  const std::vector<std::u16string> probes = Probes(hit);
  std::size_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(Ops::Get(probes[n++ % probes.size()]));
}

template <typename Ops>
void SetLabelChangeBench(benchmark::State& state) {
  const std::vector<std::u16string> targets = Probes(true);
  std::size_t n = 0;
  for (auto _ : state) {
    // Alternating values make every call a real change.
    Ops::Set(targets[n % targets.size()], static_cast<LabelValue>(n / targets.size() % 2 + 1));
    ++n;
  }
}

// A path the table does not hold yet, then cleared again; each timed alone.
template <typename Ops>
void SetLabelInsertBench(benchmark::State& state, bool timeTheInsert) {
  const std::vector<std::u16string> targets = Probes(false);
  std::size_t n = 0;
  for (auto _ : state) {
    const std::u16string& path = targets[n++ % targets.size()];
    const auto start = Clock::now();
    Ops::Set(path, 3);
    const auto inserted = Clock::now();
    Ops::Set(path, kNoLabel);
    state.SetIterationTime(Seconds(timeTheInsert ? inserted - start : Clock::now() - inserted));
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

void GetFolderLabelsBench(benchmark::State& state) {
  const CLabelStore& store = Table();
  std::int64_t n = 0;
  for (auto _ : state) {
    const std::u16string folder = FolderPath(PickFolder(n++));
    const auto start = Clock::now();
    const std::vector<LabelEntry> children = store.GetFolderLabels(folder);
    state.SetIterationTime(Seconds(Clock::now() - start));
    if (children.size() != kFilesPerFolder) state.SkipWithError("a folder of ten children answered otherwise");
  }
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

// What a save holds the store's lock for, as the entry points take it: for
// the snapshot, for each slice read, and for recording the result. The time
// is the longest single hold; the whole time held goes to the summary.
double g_heldPerSaveMs = 0;
int g_holdsPerSave = 0;

void SaveLockedBench(benchmark::State& state) {
  CLabelStore& store = Table();
  double heldMs = 0;
  int holds = 0;
  for (auto _ : state) {
    Clock::duration longest{};
    const auto held = [&](auto step) {
      const auto start = Clock::now();
      step();
      const Clock::duration took = Clock::now() - start;
      longest = std::max(longest, took);
      heldMs += Seconds(took) * 1e3;
      ++holds;
    };
    SaveSnapshot snapshot;
    held([&] { snapshot = store.TakeSnapshot(); });
    snapshot.Write([&](const std::function<void()>& step) {
      held(step);
      return true;
    });
    bool saved = false;
    held([&] { saved = store.FinishSave(snapshot); });
    state.SetIterationTime(Seconds(longest));
    if (!saved) state.SkipWithError("Save failed");
  }
  g_heldPerSaveMs = heldMs / static_cast<double>(state.iterations());
  g_holdsPerSave = holds / static_cast<int>(state.iterations());
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

// The same read into a buffer of its own each time, as Load's database
// read does: the difference is what the system charges for fresh memory.
void PlainReadFreshBench(benchmark::State& state) {
  const std::size_t size = SavedBytes().size();
  for (auto _ : state) {
    std::vector<std::uint8_t> contents;
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
  std::printf("  %-16s %12.3f us  = %10.6f x %s (%.3f ms)  [%.0f times faster]\n", name, op * 1e6, op / base, baseline,
              base * 1e3, base / op);
}

// An operation of the table against the same one in the old map.
void PrintAgainstOldMap(const SummaryReporter& times, const char* name) {
  const double op = times.Seconds(name);
  const double base = times.Seconds(std::string("OldMap/") + name);
  if (op <= 0 || base <= 0) return;
  std::printf("  %-16s %8.3f us  = %5.2f x the folding ordered map (%.3f us)\n", name, op * 1e6, op / base, base * 1e6);
}

void PrintThroughput(const SummaryReporter& times, const char* name, const char* baseline, std::size_t bytes) {
  const double op = times.Seconds(name);
  const double base = times.Seconds(baseline);
  if (op <= 0 || base <= 0) return;
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("  %-16s %8.1f MB/s  vs %-15s %8.1f MB/s  = %.1f x its time\n", name, mb / op, baseline, mb / base,
              op / base);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  benchmark::RegisterBenchmark("GetLabel/hit", GetLabelBench<NewTable>, true);
  benchmark::RegisterBenchmark("OldMap/GetLabel/hit", GetLabelBench<OldTableOps>, true);
  benchmark::RegisterBenchmark("GetLabel/miss", GetLabelBench<NewTable>, false);
  benchmark::RegisterBenchmark("OldMap/GetLabel/miss", GetLabelBench<OldTableOps>, false);
  benchmark::RegisterBenchmark("SetLabel/change", SetLabelChangeBench<NewTable>);
  benchmark::RegisterBenchmark("OldMap/SetLabel/change", SetLabelChangeBench<OldTableOps>);
  benchmark::RegisterBenchmark("SetLabel/insert", SetLabelInsertBench<NewTable>, true)->UseManualTime();
  benchmark::RegisterBenchmark("OldMap/SetLabel/insert", SetLabelInsertBench<OldTableOps>, true)->UseManualTime();
  benchmark::RegisterBenchmark("SetLabel/clear", SetLabelInsertBench<NewTable>, false)->UseManualTime();
  benchmark::RegisterBenchmark("OldMap/SetLabel/clear", SetLabelInsertBench<OldTableOps>, false)->UseManualTime();
  benchmark::RegisterBenchmark("FullWalk", FullWalkBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ItemRemoved", ItemRemovedBench)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("RenameFolder", RenameFolderBench)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("GetFolderLabels", GetFolderLabelsBench)->UseManualTime()->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Save", SaveBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Save/locked", SaveLockedBench)->UseManualTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PlainWrite", PlainWriteBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Load", LoadBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PlainRead", PlainReadBench)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PlainRead/fresh", PlainReadFreshBench)->Unit(benchmark::kMillisecond);

  std::printf("Building a table of %d labelled paths, and the old map of them...\n", kFolders * kFilesPerFolder);
  Table();
  OldTable();

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nSummary (%d entries, %d to a folder; file of %zu bytes):\n", kFolders * kFilesPerFolder,
              kFilesPerFolder, SavedBytes().size());
  for (const char* name : {"GetLabel/hit", "GetLabel/miss", "SetLabel/change", "SetLabel/insert", "SetLabel/clear"}) {
    PrintAgainstOldMap(reporter, name);
  }
  PrintAgainst(reporter, "ItemRemoved", "FullWalk");
  PrintAgainst(reporter, "RenameFolder", "FullWalk");
  PrintAgainst(reporter, "GetFolderLabels", "FullWalk");
  PrintThroughput(reporter, "Save", "PlainWrite", SavedBytes().size());
  PrintThroughput(reporter, "Load", "PlainRead", SavedBytes().size());
  PrintThroughput(reporter, "Load", "PlainRead/fresh", SavedBytes().size());
  if (const double longest = reporter.Seconds("Save/locked"); longest > 0) {
    std::printf("  %-16s the lock held at most %.3f ms at a time, %d times, %.1f ms in all,"
                " of a whole save of %.1f ms\n",
                "Save/locked", longest * 1e3, g_holdsPerSave, g_heldPerSaveMs, reporter.Seconds("Save") * 1e3);
  }
  std::printf("  Memory per entry (resident, as built): the table %.0f bytes, the old map %.0f bytes\n",
              g_tableBytesPerEntry, g_oldMapBytesPerEntry);

  std::remove((BenchFolder() + "/labels.lst").c_str());
  std::remove((BenchFolder() + "/plain.bin").c_str());
  ::rmdir(BenchFolder().c_str());
  benchmark::Shutdown();
  return 0;
}
