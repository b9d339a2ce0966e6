#pragma once
// What tests of the real PelkoLabelMngr.exe share: its windows found by
// class and title and read through messages, its observer files, its start
// on the test desktop and its closing.

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "GuiTestSupport.h"

namespace pelko::testing {

inline constexpr wchar_t kFrameClass[] = L"Norvane.PelkoLabels.Manager";
inline constexpr wchar_t kTitle[] = L"Pelko Labels";
inline constexpr DWORD kWindowBoundMs = 20000;
inline constexpr UINT kIdOpen = 57601, kIdClear = 32775, kIdCustomize = 32778, kIdFeedback = 32773, kIdHelp = 32774,
                      kIdAbout = 57664, kIdRefresh = 32771;

inline std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// Lines the manager wrote to one of its observer files (".shell", ".messages").
std::vector<std::string> Observed(const wchar_t* suffix);

// What the main window holds, found from its frame.
struct ManagerWindows {
  HWND frame = nullptr;
  HWND ribbon = nullptr;
  std::vector<HWND> toolbars;
  std::vector<HWND> captions;
  HWND tabs = nullptr;
  HWND status = nullptr;
  HWND list = nullptr;
};
ManagerWindows FindParts(HWND frame);

// The installed manager started on the test desktop with arguments.
StartedProgram StartManager(const std::wstring& arguments = {});
// Starts the manager and waits for its main window (null, reported, when none
// came) and for the first fill of its list.
HWND StartMain(StartedProgram& program, DWORD boundMs = kWindowBoundMs);
// Closes the main window as the user would and waits for the process.
std::optional<DWORD> Close(HWND frame, StartedProgram& program);

// The property the label list carries while the view fills it.
inline constexpr wchar_t kListFillingProperty[] = L"Norvane.PelkoLabels.Filling";
// Waits until the list holds no fill in progress; false (reported) when one
// outlived boundMs.
bool WaitForFilledList(HWND list, DWORD boundMs = kWindowBoundMs);

// labels.lst holding these labels in this order (the service's, by path),
// for a service that has not started yet: it reads the file once, at start.
bool WriteLabelDatabase(const std::vector<std::pair<std::wstring, ULONG>>& labels);

// Runs a /bin/sh script on the Linux side (many files are made there in a
// moment, where Wine takes a call per file) and waits until it ended.
bool RunUnixScript(const std::string& script, DWORD boundMs = 60000);

// What the manager's path-check seam ("PelkoLabelMngr.exe.path-check")
// holds: a delay per check and a pattern of paths whose check hangs.
bool WritePathCheckSeam(const std::string& value);

}  // namespace pelko::testing
