#pragma once
// The service program's command-line switches.

#include <string_view>

namespace pelko {

enum class HostCommand {
  StartServer,  // no switch: run as the service or as a plain COM server
  RegServer,
  UnregServer,
  RegServerPerUser,
  UnregServerPerUser,
  Service,  // register, install the service and make it start automatically
};

// A switch is a word after "-" or "/" anywhere in the line, matched without
// regard to case, and ending at the end of the line, a space or a tab. The
// four registration switches are looked for first, and the one that comes
// first in the line decides; only without any of them is "Service" looked
// for. Unknown words (such as COM's "-Embedding") are ignored.
HostCommand ParseHostCommandLine(std::u16string_view line);

}  // namespace pelko
