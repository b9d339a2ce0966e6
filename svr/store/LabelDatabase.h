#pragma once
// Where labels.lst is kept, behind an interface: Win32LabelDatabase is the
// Win32 file, tests use an in-memory fake. The decisions (what to do with a
// damaged file, when a save may replace it) are the table's, not the file's.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "LabelFileCodec.h"

namespace pelko {

class ILabelDatabase {
 public:
  virtual ~ILabelDatabase() = default;

  enum class ReadOutcome { Read, Missing, Unreadable };
  // Reads the whole file. A file held by another program is retried for
  // about a second before it counts as unreadable.
  virtual ReadOutcome Read(std::vector<std::uint8_t>& contents) = 0;

  // Replaces the file with what produce writes into the sink, atomically:
  // on any failure the previous file stays as it was.
  virtual bool Replace(const std::function<bool(const ByteSink&)>& produce) = 0;

  // Moves (keepOriginal false) or copies the current file to a fresh
  // "labels.lst.bad-YYYYMMDD-HHMMSS" beside it; returns the new path, or an
  // empty path when there is no file any more (nothing to keep).
  virtual std::optional<std::u16string> SetAside(bool keepOriginal) = 0;

  // Why the last failing call failed, in a sentence.
  virtual std::u16string LastError() const = 0;
};

}  // namespace pelko
