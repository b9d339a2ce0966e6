#pragma once
// labels.lst on disk. The service runs as the local system account and the
// folder lies where ordinary users can create things, so:
//   - the folder is named once, when the service starts, with no fallback;
//   - folders the service creates get an access list of their own (local
//     system and administrators full control, users read and execute);
//   - nothing is read or written through a folder or file that is a link;
//   - a save writes labels.lst.tmp (created exclusively) and replaces
//     labels.lst in one rename, so a crash never leaves a half file.

#include <memory>
#include <optional>
#include <string>

#include "LabelDatabase.h"

namespace pelko {

class Win32LabelDatabase final : public ILabelDatabase {
 public:
  // The database of base + "\Norvane\Pelko Labels". base itself is trusted
  // (the system's application-data folder, or a test's scratch folder).
  explicit Win32LabelDatabase(std::wstring base);

  // The database in the machine-wide application-data folder; nothing when
  // the system cannot name that folder.
  static std::unique_ptr<Win32LabelDatabase> ForProductDataFolder();

  const std::wstring& Folder() const { return m_folder; }
  // Makes the folders, with their protected access, where they are missing:
  // the service makes them when it starts, so that setup finds the place
  // of the configuration file before the first label is saved.
  bool CreateFolder() { return CheckNoLinks(/*createMissing=*/true); }
  const std::wstring& FilePath() const { return m_file; }

  ReadOutcome Read(std::vector<std::uint8_t>& contents) override;
  bool Replace(const std::function<bool(const ByteSink&)>& produce) override;
  std::optional<std::u16string> SetAside(bool keepOriginal) override;
  std::u16string LastError() const override { return m_lastError; }

  // Failure injection for tests: the named step fails as if the system had
  // refused it, with everything around it done for real.
  enum class Step { CreateTemporary, Write, Flush, Replace, SetAside };
  void FailAt(std::optional<Step> step) { m_failAt = step; }

  // How long Read waits for a file another program holds.
  void SetHeldFileRetries(int attempts, unsigned pauseMs) {
    m_readAttempts = attempts;
    m_retryPauseMs = pauseMs;
  }

 private:
  bool Injected(Step step) const { return m_failAt == step; }
  bool Fail(const wchar_t* what, const std::wstring& path, unsigned long error);
  bool CheckNoLinks(bool createMissing);

  std::wstring m_base;
  std::wstring m_vendorFolder;  // base\Norvane
  std::wstring m_folder;        // base\Norvane\Pelko Labels
  std::wstring m_file;
  std::wstring m_temporary;
  std::optional<Step> m_failAt;
  int m_readAttempts = 10;
  unsigned m_retryPauseMs = 100;
  std::u16string m_lastError;
};

}  // namespace pelko
