#pragma once
// What tests of windows need: a desktop of their own (a Wine virtual
// desktop under the Xvfb display the launcher gives gui tests), programs
// started on it, windows found and read, screenshots kept under the build
// tree, and the pixels of a window for checks where a colour is the
// behaviour.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "UniqueHandle.h"

namespace pelko::testing {

// The desktop this test process draws on: under wine-run --gui a Wine
// virtual desktop of its own. Programs started with StartOnTestDesktop share
// it. The first call also makes the process DPI aware (real pixels at 200 %).
const std::wstring& TestDesktopName();

// A process started on the test desktop; ended (if still running) when this goes.
class StartedProgram {
 public:
  StartedProgram() = default;
  StartedProgram(StartedProgram&&) noexcept = default;
  StartedProgram& operator=(StartedProgram&&) noexcept = default;
  ~StartedProgram();

  bool Started() const { return m_process.is_valid(); }
  DWORD ProcessId() const { return m_processId; }
  HANDLE Process() const { return m_process.get(); }
  // The exit code once the process ended within boundMs, else nothing.
  std::optional<DWORD> WaitForExit(DWORD boundMs);

 private:
  friend StartedProgram StartOnTestDesktop(const std::wstring&, const wchar_t*);
  unique_handle m_process;
  DWORD m_processId = 0;
};
// applicationName null: the program is the command line's first token.
StartedProgram StartOnTestDesktop(const std::wstring& commandLine, const wchar_t* applicationName = nullptr);

// A visible top-level window of the thread's desktop (the test desktop
// once TestDesktopName was called) with this class (null:
// any) and title (null: any), owned by processId (0: any), waited for up
// to boundMs.
HWND WaitForTopLevelWindow(const wchar_t* windowClass, const wchar_t* title, DWORD processId, DWORD boundMs);
// Every visible top-level window of processId on the thread's desktop.
std::vector<HWND> TopLevelWindowsOf(DWORD processId);
std::wstring WindowClassOf(HWND window);
std::wstring WindowTextOf(HWND window);
// The child windows of parent with this class, in Z order.
std::vector<HWND> ChildWindowsOfClass(HWND parent, const wchar_t* windowClass);

// In ms, closes a pop-up menu this thread shows by then (Esc), so that a
// test that asks for a menu which should not come is never stuck in one.
void CloseMenuAfter(DWORD ms);

// A buffer in another process, for control messages whose structures hold
// pointers (toolbar and header texts). Freed when it goes.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, std::size_t bytes);
  ~RemoteBuffer();
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  explicit operator bool() const { return m_address != nullptr; }
  void* Address() const { return m_address; }
  bool Write(const void* data, std::size_t bytes, std::size_t offset = 0);
  bool Read(void* data, std::size_t bytes, std::size_t offset = 0) const;

 private:
  unique_handle m_process;
  void* m_address = nullptr;
};

// Texts of another process's controls.
std::wstring ToolbarButtonText(HWND toolbar, int command);
std::wstring HeaderItemText(HWND header, int index);

// Another process's list view: a cell's text and image index (-2 when it
// cannot be read), every row's first columns, and a selection made as a
// click would (the first row focused); false when it did not take.
std::wstring ListViewText(HWND list, int row, int column);
int ListViewImage(HWND list, int row, int column);
std::vector<std::vector<std::wstring>> ListViewRows(HWND list, int columns);
bool SelectListViewRows(HWND list, const std::vector<int>& rows);

// The pixels of a window as shown on screen, top row first, 0x00RRGGBB.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<DWORD> rgb;
  DWORD At(int x, int y) const { return rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)]; }
  // Pixels of colour within the rectangle (window coordinates).
  int Count(DWORD color, const RECT& area) const;
};
std::optional<Pixels> CapturePixels(HWND window);

// Saves what window shows as build-tree/screenshots/NAME.png, prints its
// Linux path and returns it (empty on failure).
std::string SaveScreenshot(HWND window, const std::string& name);

inline constexpr DWORD RgbOf(COLORREF color) {
  return (static_cast<DWORD>(GetRValue(color)) << 16) | (static_cast<DWORD>(GetGValue(color)) << 8) | GetBValue(color);
}

}  // namespace pelko::testing
