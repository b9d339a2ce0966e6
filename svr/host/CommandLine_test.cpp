#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>

namespace pelko {
namespace {

TEST(HostCommandLine, FindsTheSwitchThatDecides) {
  struct Case {
    std::u16string line;
    HostCommand expected;
  } cases[] = {
      {u"", HostCommand::StartServer},
      {u"\"C:\\Program Files\\Norvane\\Pelko Labels\\PelkoLabelSvr.exe\"", HostCommand::StartServer},
      {u"PelkoLabelSvr.exe /regserver", HostCommand::RegServer},
      {u"PelkoLabelSvr.exe -RegServer", HostCommand::RegServer},
      {u"PelkoLabelSvr.exe /RegServer\t/x", HostCommand::RegServer},
      {u"PelkoLabelSvr.exe /RegServerX", HostCommand::StartServer},  // not a switch
      {u"PelkoLabelSvr.exe /Service /RegServer", HostCommand::RegServer},
      {u"PelkoLabelSvr.exe /Service", HostCommand::Service},
      {u"PelkoLabelSvr.exe -service", HostCommand::Service},
      {u"PelkoLabelSvr.exe /Services", HostCommand::StartServer},
      {u"PelkoLabelSvr.exe /UnregServer", HostCommand::UnregServer},
      {u"PelkoLabelSvr.exe /RegServerPerUser", HostCommand::RegServerPerUser},
      {u"PelkoLabelSvr.exe /UNREGSERVERPERUSER", HostCommand::UnregServerPerUser},
      {u"PelkoLabelSvr.exe /UnregServer /RegServer", HostCommand::UnregServer},  // first in the line
      {u"PelkoLabelSvr.exe /RegServer /UnregServer", HostCommand::RegServer},
      {u"PelkoLabelSvr.exe -Embedding", HostCommand::StartServer},  // COM's activation
      {u"PelkoLabelSvr.exe frobnicate /please", HostCommand::StartServer},
      {u"C:\\odd-path/RegServer", HostCommand::RegServer},  // a switch may follow anything
      {u"PelkoLabelSvr.exe /", HostCommand::StartServer},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseHostCommandLine(c.line), c.expected) << std::string(c.line.begin(), c.line.end());
  }
}

}  // namespace
}  // namespace pelko
