#include "DebugTrace.h"

#include <atomic>

namespace pelko {
namespace {
std::atomic<DebugTraceSink> g_sink{nullptr};
}

DebugTraceSink SetDebugTraceSink(DebugTraceSink sink) noexcept { return g_sink.exchange(sink); }

void DebugTrace(std::u16string_view format, std::initializer_list<std::u16string_view> args) {
  const DebugTraceSink sink = g_sink.load(std::memory_order_relaxed);
  if (!sink) return;
  std::u16string line;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u's') {
      if (next != args.end()) line += *next++;
      ++i;
    } else {
      line += format[i];
    }
  }
  sink(line);
}

}  // namespace pelko
