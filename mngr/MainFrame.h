#pragma once
// The manager's main window: the ribbon at the top, the label list view,
// the status bar with its hint, and the commands of the frame itself
// (feedback, help, About). Its title stays "Pelko Labels".

#include <windows.h>

#include "MyRibbon.h"
#include "TagwellView.h"
#include "UpdateCheck.h"
#include "WorkerThread.h"

namespace pelko {

// Sent by a second start of the manager: come to the front.
inline constexpr UINT WM_ACTIVATEMANAGER = 2025;

class CMainFrame {
 public:
  // The frame's own window class: a second start finds the running manager
  // by it and the title, not by the title alone, which any window can have.
  static constexpr wchar_t kWindowClass[] = L"Norvane.PelkoLabels.Manager";
  static constexpr wchar_t kTitle[] = L"Pelko Labels";

  CMainFrame() = default;
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // Creates the window, not yet shown; false when any part failed.
  bool Create(HINSTANCE instance);
  void Show();
  HWND Window() const noexcept { return m_window; }

  // Accelerators and the ribbon's keyboard before dispatch; true when used.
  bool PreTranslateMessage(MSG& message);
  // With the message queue empty: the buttons' enabled states.
  void OnIdle();

 private:
  template <typename T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool OnCreate();
  void BuildRibbon();
  void Layout();
  void OnCommand(UINT command);
  bool IsCommandEnabled(UINT command) const;
  void OnActivateManager();
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  bool MoveFocus(bool backwards);

  HINSTANCE m_instance = nullptr;
  HWND m_window = nullptr;
  HWND m_status = nullptr;
  HACCEL m_accelerators = nullptr;
  UINT m_dpi = 96;
  MyRibbon m_ribbon;
  CTagwellView m_view;
  unique_hfont m_statusFont;
  CWorkerThread m_updateCheck;
};

}  // namespace pelko
