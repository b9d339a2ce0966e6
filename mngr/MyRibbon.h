#pragma once
// The ribbon of the main window, built from common controls: a tab strip
// with the one category, and under it panels, each a toolbar of large
// buttons (picture above text) with its caption below. Toolbars give the
// themed hot and pressed states, tooltips and accessibility names; this
// class adds the titled tooltips, the panel layout, DPI scaling and the
// keyboard: Alt shows the access keys and moves into the ribbon, the arrow
// keys walk the buttons across panels, Enter or Space presses one, Esc
// goes back. A right click on the ribbon shows nothing.

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "Dpi.h"
#include "ImageListHandle.h"

namespace pelko {

class MyRibbon {
 public:
  MyRibbon() = default;
  ~MyRibbon();
  MyRibbon(const MyRibbon&) = delete;
  MyRibbon& operator=(const MyRibbon&) = delete;

  // The band window, a child of frame; false when a window could not be made.
  bool Create(HWND frame, HINSTANCE instance, UINT dpi);
  HWND Window() const noexcept { return m_window; }

  // The ribbon's content; image is the picture's index in the strip
  // (icon resources firstImageId + index).
  void SetCategory(const std::wstring& name);
  void SetImages(int firstImageId, int count);
  int AddPanel(const std::wstring& caption);
  void AddButton(int panel, UINT command, const std::wstring& text, int image, const std::wstring& tipTitle,
                 const std::wstring& tipDescription);
  void AddSeparator(int panel);

  int Height() const noexcept { return m_height; }
  void Layout(int width);
  void SetDpi(UINT dpi);

  void EnableCommand(UINT command, bool enabled);
  bool IsCommandEnabled(UINT command) const;

  // Keyboard handling before the message is dispatched; true when used.
  bool PreTranslateMessage(const MSG& message);
  // The toolbars in Tab order, for the frame's focus cycle.
  std::vector<HWND> FocusStops() const;
  // Called when Tab or a click puts the focus on one of the toolbars.
  void OnToolbarFocused(HWND toolbar);

 private:
  struct Button {
    UINT command;
    std::wstring tipTitle;
    std::wstring tipDescription;
  };
  struct Panel {
    HWND toolbar = nullptr;
    HWND caption = nullptr;
    std::vector<Button> buttons;
    RECT area{};
  };

  template <typename T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK ToolbarProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool OnToolbarKey(HWND toolbar, UINT key);
  void PaintBackground(HDC dc);
  void ApplyDpiResources();
  void ApplyDpiResources(const Panel& panel);
  const Button* FindButton(UINT command) const;
  // Every enabled button in order across panels, as (toolbar, index).
  std::vector<std::pair<HWND, int>> EnabledButtons() const;
  void SetHotButton(HWND toolbar, int index);
  bool PressAccessKey(wchar_t key);
  void EnterKeyboardMode();
  void LeaveKeyboardMode(bool restoreFocus);

  HWND m_window = nullptr;
  HWND m_frame = nullptr;
  HWND m_tabs = nullptr;
  HINSTANCE m_instance = nullptr;
  UINT m_dpi = 96;
  int m_height = 0;
  int m_firstImageId = 0;
  int m_imageCount = 0;
  std::vector<Panel> m_panels;
  unique_himagelist m_images;
  unique_hfont m_font;
  unique_hbrush m_panelBrush;
  std::wstring m_category;
  bool m_altAlone = false;      // Alt is down and no other key came yet
  HWND m_focusBeforeRibbon = nullptr;
};

}  // namespace pelko
