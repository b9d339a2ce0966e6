#pragma once
// What the service tests share: installing the program on C:, running it,
// reading what it wrote to the registry, the service manager and its
// observer files.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "PelkoLabelSvr.h"

namespace pelko::testing {

inline constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\Norvane\\Pelko Labels";
inline constexpr wchar_t kInstalledProgram[] = L"C:\\Program Files\\Norvane\\Pelko Labels\\PelkoLabelSvr.exe";
inline constexpr wchar_t kDatabaseFile[] = L"C:\\ProgramData\\Norvane\\Pelko Labels\\labels.lst";
inline constexpr wchar_t kServiceName[] = L"PelkoLabelSvr";
inline constexpr wchar_t kInstalledExtension[] = L"C:\\Program Files\\Norvane\\Pelko Labels\\PelkoLabelShl.dll";
// How long a COM call of a test into the service may take before the
// watchdog reports it (the first one starts the service).
inline constexpr DWORD kComCallBoundMs = 30000;

inline constexpr wchar_t kInstalledManager[] = L"C:\\Program Files\\Norvane\\Pelko Labels\\PelkoLabelMngr.exe";
inline constexpr wchar_t kConfigFile[] = L"C:\\ProgramData\\Norvane\\Pelko Labels\\PelkoLabelShlCfg.ini";

// Copies PelkoLabelSvr.exe from the build tree (or from source) to the
// install folder and creates its empty observer files (.events and
// .messages), so that events are seen and message boxes never wait for a
// person.
bool InstallProgram(const std::wstring& source = {});

// Copies PelkoLabelShl.dll from the build tree beside the installed service
// and creates its observer file (.messages), without registering it.
bool InstallExtension();

// Copies PelkoLabelMngr.exe from the build tree to the install folder and
// creates its empty observer files (.shell and .messages), so that what it
// would open and the message boxes it would show are written there; with
// it, what setup installs beside it (icons\Schemes, PelkoLabels.htm) and,
// when there is none, the configuration file of a fresh install.
bool InstallManager();

// The configuration file of a fresh install (UTF-16, the first scheme).
bool WriteDefaultConfig();

// The service installed as a service, the extension installed and
// registered with regsvr32: what a machine with Pelko Labels has.
bool InstallServiceAndExtension();

// Runs the Explorer harness with arguments (see tests/harness); its output,
// lines ending in "\n".
std::string RunHarness(const std::wstring& arguments, DWORD timeoutMs = 60000);

// Writes the extension's configuration file (creating its folder).
bool WriteExtensionConfig(const std::string& text);

// Starts the installed service and waits until it runs.
bool StartTheService();

// Runs a command line and waits; the exit code, or nothing on time-out.
std::optional<DWORD> RunCommand(std::wstring commandLine, DWORD timeoutMs = 30000);

// Runs a command line with its standard output and error going to one
// file; the exit code (or nothing) and what it wrote, "\r\n" made "\n".
struct CapturedRun {
  std::optional<DWORD> exitCode;
  std::string output;
};
CapturedRun RunCapturingOutput(std::wstring commandLine, DWORD timeoutMs = 30000);
// Runs the installed program with arguments.
std::optional<DWORD> RunInstalled(const std::wstring& arguments, DWORD timeoutMs = 30000);

// The lines the installed program appended to its observer file
// (suffix ".events" or ".messages").
std::vector<std::wstring> ObservedLines(const wchar_t* suffix);
// Waits until a line containing text appears; true when it did.
bool WaitForObservedLine(const wchar_t* suffix, const std::wstring& text, DWORD timeoutMs = 10000);

// The service's current state, or 0 when it is not installed.
DWORD ServiceState();
bool WaitForServiceState(DWORD state, DWORD timeoutMs = 15000);
bool SendServiceControl(DWORD control);

// Process ids of running programs with this file name.
std::vector<DWORD> FindProcesses(const wchar_t* fileName);

class ComApartment {
 public:
  ComApartment() { CoInitialize(nullptr); }
  ~ComApartment() { CoUninitialize(); }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
};

// A client as the extension and the manager are: by ProgID only.
com_ptr<ILabelUtil> CreateLabelUtilByProgId();
// Installs the program as the service and starts it through COM, as a
// client's first call does; the object that started it once the service
// watches the drives, null when a step failed.
com_ptr<ILabelUtil> StartTheServiceWatchingTheDrives();
ULONG LabelOf(ILabelUtil* labels, const std::wstring& path);
HRESULT SetLabelOf(ILabelUtil* labels, const std::wstring& path, ULONG value);
// Polls until path has the expected label; the time it took, or nothing.
std::optional<DWORD> WaitForLabel(ILabelUtil* labels, const std::wstring& path, ULONG expected,
                                  DWORD timeoutMs = 5000);

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& key, const std::wstring& name,
                                               REGSAM view = 0);
bool RegistryKeyExists(HKEY root, const std::wstring& key, REGSAM view = 0);

}  // namespace pelko::testing
