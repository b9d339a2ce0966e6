#include "GuiTestSupport.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "TestDiagnostics.h"

namespace pelko::testing {
namespace {

// ---- PNG without a compressor: stored deflate blocks are valid zlib data.

DWORD Crc32(const unsigned char* data, std::size_t size, DWORD crc = 0) {
  static const auto table = [] {
    std::vector<DWORD> entries(256);
    for (DWORD n = 0; n < 256; ++n) {
      DWORD c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
    return entries;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBigEndian(std::string& out, DWORD value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<DWORD>(data.size()));
  std::string body(type, 4);
  body += data;
  out += body;
  PutBigEndian(out, Crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

std::string EncodePng(const Pixels& pixels) {
  std::string raw;
  raw.reserve(static_cast<std::size_t>(pixels.height) * (1 + 3 * static_cast<std::size_t>(pixels.width)));
  for (int y = 0; y < pixels.height; ++y) {
    raw.push_back('\0');  // no filter
    for (int x = 0; x < pixels.width; ++x) {
      const DWORD rgb = pixels.At(x, y);
      raw.push_back(static_cast<char>((rgb >> 16) & 0xFF));
      raw.push_back(static_cast<char>((rgb >> 8) & 0xFF));
      raw.push_back(static_cast<char>(rgb & 0xFF));
    }
  }
  std::string zlib("\x78\x01", 2);
  for (std::size_t at = 0; at < raw.size() || raw.empty();) {
    const std::size_t size = std::min<std::size_t>(65535, raw.size() - at);
    const bool last = at + size == raw.size();
    zlib.push_back(last ? '\x01' : '\x00');
    zlib.push_back(static_cast<char>(size & 0xFF));
    zlib.push_back(static_cast<char>(size >> 8));
    zlib.push_back(static_cast<char>(~size & 0xFF));
    zlib.push_back(static_cast<char>((~size >> 8) & 0xFF));
    zlib.append(raw, at, size);
    at += size;
    if (last) break;
  }
  DWORD a = 1, b = 0;
  for (unsigned char byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBigEndian(zlib, (b << 16) | a);

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBigEndian(header, static_cast<DWORD>(pixels.width));
  PutBigEndian(header, static_cast<DWORD>(pixels.height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", zlib);
  PutChunk(png, "IEND", "");
  return png;
}

struct WindowSearch {
  const wchar_t* windowClass;
  const wchar_t* title;
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  if (!IsWindowVisible(window)) return TRUE;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (search.processId && owner != search.processId) return TRUE;
  if (search.windowClass && WindowClassOf(window) != search.windowClass) return TRUE;
  if (search.title && WindowTextOf(window) != search.title) return TRUE;
  search.found.push_back(window);
  return TRUE;
}

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (HWND menu = FindWindowW(L"#32768", nullptr); menu && IsWindowVisible(menu)) PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
}

}  // namespace

void CloseMenuAfter(DWORD ms) { SetTimer(nullptr, 0, ms, &CloseMenu); }

const std::wstring& TestDesktopName() {
  static const std::wstring name = [] {
    // Screenshots and rectangles in real pixels, also at 200 %.
    using SetAwareFn = BOOL(WINAPI*)();
    if (auto setAware = reinterpret_cast<SetAwareFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDPIAware"))))
      setAware();
    // wine-run --gui starts the test program on a desktop of its own (see
    // TestMain); run by hand, it uses the one it started on.
    wchar_t current[128] = {};
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, current, sizeof(current), nullptr);
    return std::wstring(current);
  }();
  return name;
}

StartedProgram::~StartedProgram() {
  if (m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(m_process.get(), 99);
    WaitForSingleObject(m_process.get(), 5000);
  }
}

std::optional<DWORD> StartedProgram::WaitForExit(DWORD boundMs) {
  if (!m_process || WaitForSingleObject(m_process.get(), boundMs) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(m_process.get(), &code);
  return code;
}

StartedProgram StartOnTestDesktop(const std::wstring& commandLine, const wchar_t* applicationName) {
  std::wstring desktop = TestDesktopName();
  std::wstring line = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktop.data();
  PROCESS_INFORMATION process{};
  StartedProgram started;
  if (!CreateProcessW(applicationName, line.data(), nullptr, nullptr, FALSE, 0, nullptr, L"C:\\", &startup, &process)) {
    ReportFailedCall(L"CreateProcessW " + commandLine, GetLastError());
    return started;
  }
  CloseHandle(process.hThread);
  started.m_process.reset(process.hProcess);
  started.m_processId = process.dwProcessId;
  return started;
}

HWND WaitForTopLevelWindow(const wchar_t* windowClass, const wchar_t* title, DWORD processId, DWORD boundMs) {
  HWND window = nullptr;
  WaitUntil(boundMs, [&] {
    WindowSearch search{windowClass, title, processId, {}};
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
    window = search.found.empty() ? nullptr : search.found.front();
    return window != nullptr;
  });
  return window;
}

std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
  WindowSearch search{nullptr, nullptr, processId, {}};
  EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring WindowClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::wstring WindowTextOf(HWND window) {
  wchar_t text[1024] = {};
  // Another process's window answers WM_GETTEXT through the system.
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
  return text;
}

std::vector<HWND> ChildWindowsOfClass(HWND parent, const wchar_t* windowClass) {
  std::vector<HWND> found;
  for (HWND child = FindWindowExW(parent, nullptr, windowClass, nullptr); child;
       child = FindWindowExW(parent, child, windowClass, nullptr))
    found.push_back(child);
  return found;
}

RemoteBuffer::RemoteBuffer(HWND window, std::size_t bytes) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  m_process.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
  if (m_process) m_address = VirtualAllocEx(m_process.get(), nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteBuffer::~RemoteBuffer() {
  if (m_address) VirtualFreeEx(m_process.get(), m_address, 0, MEM_RELEASE);
}

bool RemoteBuffer::Write(const void* data, std::size_t bytes, std::size_t offset) {
  return m_address && WriteProcessMemory(m_process.get(), static_cast<char*>(m_address) + offset, data, bytes, nullptr);
}

bool RemoteBuffer::Read(void* data, std::size_t bytes, std::size_t offset) const {
  return m_address && ReadProcessMemory(m_process.get(), static_cast<char*>(m_address) + offset, data, bytes, nullptr);
}

std::wstring ToolbarButtonText(HWND toolbar, int command) {
  RemoteBuffer buffer(toolbar, 1024);
  if (!buffer) return {};
  const LRESULT length = SendMessageW(toolbar, TB_GETBUTTONTEXTW, command, reinterpret_cast<LPARAM>(buffer.Address()));
  if (length <= 0 || length >= 500) return {};
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  buffer.Read(text.data(), text.size() * sizeof(wchar_t));
  return text;
}

std::wstring HeaderItemText(HWND header, int index) {
  RemoteBuffer buffer(header, sizeof(HDITEMW) + 512 * sizeof(wchar_t));
  if (!buffer) return {};
  HDITEMW item{};
  item.mask = HDI_TEXT;
  item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(buffer.Address()) + sizeof(HDITEMW));
  item.cchTextMax = 512;
  buffer.Write(&item, sizeof(item));
  if (!SendMessageW(header, HDM_GETITEMW, index, reinterpret_cast<LPARAM>(buffer.Address()))) return {};
  wchar_t text[512] = {};
  buffer.Read(text, sizeof(text) - sizeof(wchar_t), sizeof(HDITEMW));
  return text;
}

namespace {

// LVM_GETITEMW of another process's list view, with room for a long text.
std::optional<LVITEMW> RemoteListItem(HWND list, int row, int column, UINT mask, std::wstring* text) {
  constexpr int kTextChars = 2048;
  RemoteBuffer buffer(list, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
  if (!buffer) return std::nullopt;
  LVITEMW item{};
  item.mask = mask;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(buffer.Address()) + sizeof(LVITEMW));
  item.cchTextMax = kTextChars;
  buffer.Write(&item, sizeof(item));
  if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer.Address()))) return std::nullopt;
  buffer.Read(&item, sizeof(item));
  if (text) {
    std::vector<wchar_t> chars(kTextChars + 1, L'\0');
    buffer.Read(chars.data(), kTextChars * sizeof(wchar_t), sizeof(LVITEMW));
    *text = chars.data();
  }
  return item;
}

}  // namespace

std::wstring ListViewText(HWND list, int row, int column) {
  std::wstring text;
  RemoteListItem(list, row, column, LVIF_TEXT, &text);
  return text;
}

int ListViewImage(HWND list, int row, int column) {
  const std::optional<LVITEMW> item = RemoteListItem(list, row, column, LVIF_IMAGE, nullptr);
  return item ? item->iImage : -2;
}

std::vector<std::vector<std::wstring>> ListViewRows(HWND list, int columns) {
  std::vector<std::vector<std::wstring>> rows;
  const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    std::vector<std::wstring> cells;
    for (int column = 0; column < columns; ++column) cells.push_back(ListViewText(list, row, column));
    rows.push_back(std::move(cells));
  }
  return rows;
}

bool SelectListViewRows(HWND list, const std::vector<int>& rows) {
  RemoteBuffer buffer(list, sizeof(LVITEMW));
  if (!buffer) return false;
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = 0;
  buffer.Write(&item, sizeof(item));
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(buffer.Address()));
  for (const int row : rows) {
    item.state = LVIS_SELECTED | (row == rows.front() ? LVIS_FOCUSED : 0u);
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    buffer.Write(&item, sizeof(item));
    if (!SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(buffer.Address()))) return false;
  }
  return static_cast<std::size_t>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0)) == rows.size();
}

int Pixels::Count(DWORD color, const RECT& area) const {
  int count = 0;
  for (int y = std::max<int>(0, area.top); y < std::min<int>(height, area.bottom); ++y)
    for (int x = std::max<int>(0, area.left); x < std::min<int>(width, area.right); ++x)
      if (At(x, y) == color) ++count;
  return count;
}

std::optional<Pixels> CapturePixels(HWND window) {
  RECT rect{};
  if (!GetWindowRect(window, &rect)) return std::nullopt;
  Pixels pixels;
  pixels.width = rect.right - rect.left;
  pixels.height = rect.bottom - rect.top;
  if (pixels.width <= 0 || pixels.height <= 0) return std::nullopt;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = pixels.width;
  info.bmiHeader.biHeight = -pixels.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  window_dc screen(nullptr);
  unique_hbitmap bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  unique_hdc memory(CreateCompatibleDC(screen.get()));
  if (!bitmap || !memory) return std::nullopt;
  {
    scoped_select selected(memory.get(), bitmap.get());
    // What the screen shows there: the window as drawn, over whatever is behind.
    if (!BitBlt(memory.get(), 0, 0, pixels.width, pixels.height, screen.get(), rect.left, rect.top, SRCCOPY))
      return std::nullopt;
  }
  const auto* source = static_cast<const DWORD*>(bits);
  pixels.rgb.assign(source, source + static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.height));
  for (DWORD& pixel : pixels.rgb) pixel &= 0x00FFFFFF;
  return pixels;
}

std::string SaveScreenshot(HWND window, const std::string& name) {
  const std::optional<Pixels> pixels = CapturePixels(window);
  const char* tree = std::getenv("PELKO_BUILD_TREE");
  if (!pixels || !tree) return {};
  CreateDirectoryW(L"t:\\screenshots", nullptr);
  const std::wstring path = L"t:\\screenshots\\" + std::wstring(name.begin(), name.end()) + L".png";
  const std::string png = EncodePng(*pixels);
  unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), png.data(), static_cast<DWORD>(png.size()), &written, nullptr) || written != png.size())
    return {};
  const std::string unixPath = std::string(tree) + "/screenshots/" + name + ".png";
  std::printf("screenshot: %s\n", unixPath.c_str());
  std::fflush(stdout);
  return unixPath;
}

}  // namespace pelko::testing
