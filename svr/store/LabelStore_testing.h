#pragma once
// Fakes shared by the label table tests: a folder tree in memory and the
// table and pool as plain lists.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "FileSystem.h"
#include "LabelStore.h"

namespace pelko {

using Entries = std::vector<LabelEntry>;

// A folder tree in memory. Counts listings, so a test can tell whether the
// table walked the disk at all.
class FakeFileSystem : public IFileSystem {
 public:
  enum class Kind { File, Folder, Link };

  // Adds path and, as folders, every folder above it.
  void Add(const std::u16string& path, Kind kind = Kind::File) {
    m_items[path] = kind;
    for (std::size_t slash = path.find(u'\\'); slash != std::u16string::npos; slash = path.find(u'\\', slash + 1)) {
      m_items.try_emplace(path.substr(0, slash), Kind::Folder);
    }
  }

  bool IsFolder(std::u16string_view path) override {
    ++isFolderCalls;
    const auto it = m_items.find(path);
    return it != m_items.end() && it->second != Kind::File;
  }

  std::vector<FolderEntry> ListFolder(std::u16string_view folder) override {
    ++listCalls;
    std::vector<FolderEntry> entries;
    const std::u16string prefix = std::u16string(folder) + u'\\';
    for (const auto& [path, kind] : m_items) {
      if (!PrefixAgrees(prefix, path, prefix.size())) continue;
      const std::u16string name = path.substr(prefix.size());
      if (name.find(u'\\') == std::u16string::npos) entries.push_back({name, kind != Kind::File, kind == Kind::Link});
    }
    return entries;
  }

  int isFolderCalls = 0;
  int listCalls = 0;

 private:
  std::map<std::u16string, Kind, PathLess> m_items;
};

inline Entries TableOf(const CLabelStore& store) {
  Entries entries;
  for (const auto& [path, label] : store.Labels()) entries.push_back({path, label});
  return entries;
}

inline Entries PoolOf(const CLabelStore& store) {
  Entries entries;
  for (const auto& [key, label] : store.RemovedPool()) entries.push_back({key, label});
  return entries;
}

inline void SetAll(CLabelStore& store, const Entries& entries) {
  for (const LabelEntry& entry : entries) store.SetLabel(entry.path, entry.label);
}

}  // namespace pelko
