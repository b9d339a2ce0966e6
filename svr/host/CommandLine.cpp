#include "CommandLine.h"

#include <array>
#include <optional>

#include "PathCompare.h"

namespace pelko {
namespace {

struct Switch {
  std::u16string_view word;
  HostCommand command;
};

constexpr std::array<Switch, 4> kRegistrationSwitches{{
    {u"RegServer", HostCommand::RegServer},
    {u"UnregServer", HostCommand::UnregServer},
    {u"RegServerPerUser", HostCommand::RegServerPerUser},
    {u"UnregServerPerUser", HostCommand::UnregServerPerUser},
}};
constexpr Switch kServiceSwitch{u"Service", HostCommand::Service};

bool EndsWord(std::u16string_view line, std::size_t at) {
  return at == line.size() || line[at] == u' ' || line[at] == u'\t';
}

// The first switch of the list found in the line, in line order.
template <std::size_t N>
std::optional<HostCommand> FindFirstSwitch(std::u16string_view line, const std::array<Switch, N>& switches) {
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (line[at] != u'-' && line[at] != u'/') continue;
    const std::u16string_view rest = line.substr(at + 1);
    for (const Switch& candidate : switches) {
      if (PrefixAgrees(rest, candidate.word, candidate.word.size()) && EndsWord(rest, candidate.word.size())) {
        return candidate.command;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

HostCommand ParseHostCommandLine(std::u16string_view line) {
  if (auto registration = FindFirstSwitch(line, kRegistrationSwitches)) return *registration;
  if (FindFirstSwitch(line, std::array<Switch, 1>{kServiceSwitch})) return HostCommand::Service;
  return HostCommand::StartServer;
}

}  // namespace pelko
