// The extension's process-wide parts in-process: the overlay icon path and
// the caller's buffer, the refresh worker's queue, and the two threads that
// must be gone before the library may be unloaded.

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "IconOverlay.h"
#include "LabelClient.h"
#include "PelkoLabelShl.h"
#include "RefreshWorker.h"
#include "ServiceTestSupport.h"
#include "ShellInterfaceIds.h"
#include "ShellModule.h"
#include "TestDiagnostics.h"
#include "Utf16.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

constexpr UINT kNotifyMessage = WM_APP + 7;
std::vector<std::wstring>* g_notified = nullptr;

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kNotifyMessage) return DefWindowProcW(window, message, wParam, lParam);
  PIDLIST_ABSOLUTE* items = nullptr;
  LONG event = 0;
  if (HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &items, &event)) {
    wchar_t path[MAX_PATH] = {};
    if (items && items[0]) SHGetPathFromIDListW(items[0], path);
    if (g_notified) g_notified->push_back(path);
    SHChangeNotification_Unlock(lock);
  }
  return 0;
}

// Hears the shell's notifications sent from this process.
class Listener {
 public:
  Listener() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ListenerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PelkoThreadsTestListener";
    RegisterClassW(&windowClass);
    m_window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    SHChangeNotifyEntry everything{nullptr, TRUE};
    m_registration = SHChangeNotifyRegister(m_window, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                            SHCNE_ALLEVENTS, kNotifyMessage, 1, &everything);
    g_notified = &notified;
  }
  ~Listener() {
    g_notified = nullptr;
    if (m_registration) SHChangeNotifyDeregister(m_registration);
    if (m_window) DestroyWindow(m_window);
  }
  // Pumps until count notifications arrived or the time is up.
  void PumpFor(std::size_t count, DWORD timeoutMs) {
    const DWORD started = GetTickCount();
    while (notified.size() < count && GetTickCount() - started < timeoutMs) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      Sleep(10);
    }
  }
  std::vector<std::wstring> notified;

 private:
  HWND m_window = nullptr;
  ULONG m_registration = 0;
};

class ShellThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    InitializeModuleGlobals(GetModuleHandleW(nullptr));
  }
  void TearDown() override {
    g_refreshWorker.Stop(5000);
    g_labelClient.StopWorker(5000);
    CoUninitialize();
  }
};

TEST_F(ShellThreads, TheOverlayIconFitsTheCallersBufferOrIsNotGiven) {
  const std::wstring icon = L"C:\\" + std::wstring(100, L'y') + L".ico";
  ASSERT_TRUE(WriteWholeFile(icon, "any file"));
  ASSERT_TRUE(WriteExtensionConfig("[MenuItem4]\r\nOverlayIcon=" + std::string(icon.begin(), icon.end()) + "\r\n"));
  com_ptr<IShellIconOverlayIdentifier> yellow;
  ASSERT_EQ(CreateIconOverlay<kLabelYellow>(nullptr, IID_IShellIconOverlayIdentifier, yellow.put_void()), S_OK);

  wchar_t small[20];
  std::fill(std::begin(small), std::end(small), L'#');
  int index = -1;
  DWORD flags = 7;
  EXPECT_TRUE(FAILED(yellow->GetOverlayInfo(small, 20, &index, &flags)));
  EXPECT_TRUE(std::all_of(std::begin(small), std::end(small), [](wchar_t c) { return c == L'#'; })) << "written past its size";
  EXPECT_EQ(index, -1);
  EXPECT_EQ(flags, 7u);

  std::vector<wchar_t> exact(icon.size() + 1);  // the path and its terminator exactly
  ASSERT_EQ(yellow->GetOverlayInfo(exact.data(), static_cast<int>(exact.size()), &index, &flags), S_OK);
  EXPECT_EQ(std::wstring(exact.data()), icon);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(flags, static_cast<DWORD>(ISIOI_ICONFILE));
}

TEST_F(ShellThreads, ShortPathsAndShortcutsCostNoServiceCall) {
  const auto callsBefore = g_labelClient.ServiceCalls();
  const auto objectsBefore = g_labelClient.ServiceObjectsCreated();
  for (LabelValue label = kFirstLabel; label <= kLastLabel; ++label) {
    for (const char16_t* path : {u"C:\\ab", u"D:\\Links\\Home.lnk", u"c:\\WINDOWS\\win.ini"}) {
      EXPECT_FALSE(MatchOverlay(path, label));
    }
  }
  EXPECT_EQ(g_labelClient.ServiceCalls(), callsBefore);
  EXPECT_EQ(g_labelClient.ServiceObjectsCreated(), objectsBefore);
  EXPECT_EQ(g_refreshWorker.QueuedForTesting(), 0u) << "a filtered item was queued";
}

TEST_F(ShellThreads, TheRefreshQueueKeepsTheFirstSixteenAndHandlesTheNewestFirst) {
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  ASSERT_TRUE(CreateDirectoryW(L"D:\\q", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  auto file = [](int i) { return L"D:\\q\\f" + std::to_wstring(i) + L".txt"; };
  {
    com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
    ASSERT_TRUE(labels);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(SetLabelOf(labels.get(), file(i), 1), S_OK);
  }
  // The lookup thread connected, as in an Explorer that has run a while: a
  // cold first lookup on a loaded machine may outlast its bound and would
  // send the newest check to the back for a retry.
  ASSERT_TRUE(WaitUntil(10000, [&] { return g_labelClient.LookupLabelUncached(ToU16(file(0))) == 1; }));
  Listener listener;
  g_refreshWorker.Start();
  g_refreshWorker.PauseForTesting(true);
  // Checks as the overlays saw the items before they were labelled.
  for (int i = 0; i < 20; ++i) g_refreshWorker.PushCheck(ToU16(file(i)), kNoLabel);
  EXPECT_EQ(g_refreshWorker.QueuedForTesting(), CRefreshWorker::kQueueLimit);
  g_refreshWorker.PushCheck(u"d:\\Q\\F3.TXT", kNoLabel);  // the same item, as paths compare
  g_refreshWorker.PushCheck(ToU16(file(5)), kNoLabel);    // identifier 1 and another asking about one item
  EXPECT_EQ(g_refreshWorker.QueuedForTesting(), CRefreshWorker::kQueueLimit) << "a repeated check took another place";

  g_refreshWorker.PauseForTesting(false);
  listener.PumpFor(16, 15000);
  ASSERT_EQ(listener.notified.size(), 16u);
  EXPECT_EQ(listener.notified.front(), file(5)) << "the newest check comes first";
  std::set<std::wstring> notifiedOnce(listener.notified.begin(), listener.notified.end());
  EXPECT_EQ(notifiedOnce.size(), 16u) << "one item was announced twice";
  for (int i = 16; i < 20; ++i) EXPECT_FALSE(notifiedOnce.contains(file(i))) << "a dropped check was handled";
  listener.PumpFor(17, 1000);
  EXPECT_EQ(listener.notified.size(), 16u);
}

TEST_F(ShellThreads, TheModuleMayUnloadOnlyOnceBothThreadsHaveEnded) {
  g_refreshWorker.Start();
  g_labelClient.LookupLabel(u"D:\\nothing\\here.txt");  // no service: the lookup thread runs all the same
  ASSERT_TRUE(g_refreshWorker.Running());
  ASSERT_TRUE(g_labelClient.WorkerRunning());
  {
    com_ptr<IShellIconOverlayIdentifier> red;
    ASSERT_EQ(CreateIconOverlay<kLabelRed>(nullptr, IID_IShellIconOverlayIdentifier, red.put_void()), S_OK);
    EXPECT_EQ(CanUnloadModule(200), S_FALSE) << "an object lives";
    EXPECT_TRUE(g_refreshWorker.Running()) << "stopped while an object lives";
  }
  ASSERT_EQ(CanUnloadModule(2000), S_OK);
  EXPECT_FALSE(g_refreshWorker.Running());
  EXPECT_FALSE(g_labelClient.WorkerRunning());
}

// Where each thread of this process began.
std::vector<ULONG_PTR> ThreadStartAddresses() {
  using QueryThread = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryThread>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
  std::vector<ULONG_PTR> starts;
  unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    unique_handle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
    ULONG_PTR start = 0;
    constexpr ULONG kThreadQuerySetWin32StartAddress = 9;
    if (thread && query && query(thread.get(), kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0) {
      starts.push_back(start);
    }
  }
  return starts;
}

TEST(ShellLibrary, UnloadingLeavesNoThreadInItsCode) {
  ASSERT_TRUE(InstallExtension());
  CoInitialize(nullptr);
  unique_hmodule library(LoadLibraryW(kInstalledExtension));
  ASSERT_TRUE(library);
  const auto base = reinterpret_cast<ULONG_PTR>(library.get());
  const auto* header = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(library.get())->e_lfanew);
  const ULONG_PTR end = base + header->OptionalHeader.SizeOfImage;
  auto threadsInLibrary = [&] {
    const auto starts = ThreadStartAddresses();
    return std::count_if(starts.begin(), starts.end(), [&](ULONG_PTR start) { return start >= base && start < end; });
  };

  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
  const auto getClassObject = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library.get(), "DllGetClassObject")));
  const auto canUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(library.get(), "DllCanUnloadNow")));
  ASSERT_TRUE(getClassObject && canUnloadNow);
  {
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_IconOverlay1, IID_IClassFactory, factory.put_void()), S_OK);
    com_ptr<IShellIconOverlayIdentifier> red;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellIconOverlayIdentifier, red.put_void()), S_OK);
    wchar_t icon[MAX_PATH];
    int index = 0;
    DWORD flags = 0;
    red->GetOverlayInfo(icon, MAX_PATH, &index, &flags);  // starts the refresh worker
    red->IsMemberOf(L"D:\\some\\file.txt", 0);            // starts the lookup thread
  }
  // Wine gives a thread its start address once it first runs, which on a
  // loaded machine may be a moment after CreateThread returned.
  ASSERT_TRUE(WaitUntil(5000, [&] { return threadsInLibrary() >= 2; }))
      << "the probe sees " << threadsInLibrary() << " threads of the library, not both";

  HRESULT answer = S_FALSE;
  for (int attempt = 0; attempt < 20 && answer != S_OK; ++attempt) answer = canUnloadNow();
  ASSERT_EQ(answer, S_OK);
  EXPECT_EQ(threadsInLibrary(), 0) << "a thread still runs the library's code";
  library.reset();  // unloads it
  Sleep(300);  // a thread left in unloaded code would have ended this process by now
  CoUninitialize();
}

}  // namespace
}  // namespace pelko
