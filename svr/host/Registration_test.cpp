// The registration switches, checked by reading the registry and the
// service manager back.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "PelkoLabelSvr.h"
#include "Registration.h"
#include "RegistryWriter.h"
#include "ServiceTestSupport.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

const std::wstring kAppIdKey = L"AppID\\" + GuidString(kAppId);
const std::wstring kClsidKey = L"CLSID\\" + GuidString(CLSID_LabelUtil);
const std::wstring kTypeLibKey = L"TypeLib\\" + GuidString(LIBID_PelkoLabelSvrLib) + L"\\1.0";
const std::wstring kInterfaceKey = L"Interface\\" + GuidString(IID_ILabelUtil);
const std::wstring kFolderQueryKey = L"Interface\\" + GuidString(IID_ILabelFolderQuery);
const std::wstring kQuotedProgram = L"\"" + std::wstring(kInstalledProgram) + L"\"";

struct ExpectedValue {
  std::wstring key, name, data;
};

// Everything the class and AppID registration must write.
std::vector<ExpectedValue> ExpectedClassValues() {
  const std::wstring clsid = GuidString(CLSID_LabelUtil);
  return {
      {kAppIdKey, L"", L"PelkoLabelSvr"},
      {L"AppID\\PelkoLabelSvr.EXE", L"AppID", GuidString(kAppId)},
      {L"PelkoLabelSvr.LabelUtil.1", L"", L"LabelUtil Class"},
      {L"PelkoLabelSvr.LabelUtil.1\\CLSID", L"", clsid},
      {L"PelkoLabelSvr.LabelUtil", L"", L"LabelUtil Class"},
      {L"PelkoLabelSvr.LabelUtil\\CLSID", L"", clsid},
      {L"PelkoLabelSvr.LabelUtil\\CurVer", L"", L"PelkoLabelSvr.LabelUtil.1"},
      {kClsidKey, L"", L"LabelUtil Class"},
      {kClsidKey, L"AppID", GuidString(kAppId)},
      {kClsidKey + L"\\ProgID", L"", L"PelkoLabelSvr.LabelUtil.1"},
      {kClsidKey + L"\\VersionIndependentProgID", L"", L"PelkoLabelSvr.LabelUtil"},
      {kClsidKey + L"\\LocalServer32", L"", kQuotedProgram},
      {kClsidKey + L"\\TypeLib", L"", GuidString(LIBID_PelkoLabelSvrLib)},
  };
}

void ExpectValues(HKEY root, const std::vector<ExpectedValue>& values, REGSAM view = 0) {
  for (const ExpectedValue& value : values) {
    EXPECT_EQ(ReadRegistryString(root, value.key, value.name, view).value_or(L"<missing>"), value.data)
        << std::string(value.key.begin(), value.key.end());
  }
}

void ExpectGone(HKEY root, const std::vector<std::wstring>& keys, REGSAM view = 0) {
  for (const std::wstring& key : keys) {
    EXPECT_FALSE(RegistryKeyExists(root, key, view)) << std::string(key.begin(), key.end());
  }
}

const std::vector<std::wstring> kRegisteredKeys = {kAppIdKey, L"AppID\\PelkoLabelSvr.EXE", L"PelkoLabelSvr.LabelUtil",
                                                   L"PelkoLabelSvr.LabelUtil.1", kClsidKey,
                                                   L"TypeLib\\" + GuidString(LIBID_PelkoLabelSvrLib)};

TEST(Registration, RegServerWritesEveryEntryAndUnregServerRemovesThem) {
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/RegServer"), 0u);
  ExpectValues(HKEY_CLASSES_ROOT, ExpectedClassValues());
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kClsidKey + L"\\Programmable"));
  EXPECT_FALSE(ReadRegistryString(HKEY_CLASSES_ROOT, kAppIdKey, L"LocalService"));
  ExpectValues(HKEY_CLASSES_ROOT, {{kTypeLibKey, L"", L"PelkoLabelSvr 1.0 Type Library"},
                                   {kInterfaceKey + L"\\TypeLib", L"", GuidString(LIBID_PelkoLabelSvrLib)},
                                   {kFolderQueryKey + L"\\TypeLib", L"", GuidString(LIBID_PelkoLabelSvrLib)}});
  // 32-bit clients (the x86 extension in a 32-bit Explorer) find the
  // interfaces and the library in the 32-bit view.
  ExpectValues(HKEY_CLASSES_ROOT,
               {{kTypeLibKey + L"\\0\\win32", L"", kInstalledProgram},
                {kInterfaceKey + L"\\ProxyStubClsid32", L"", L"{00020424-0000-0000-C000-000000000046}"},
                {kFolderQueryKey + L"\\ProxyStubClsid32", L"", L"{00020424-0000-0000-C000-000000000046}"}},
               KEY_WOW64_32KEY);

  ASSERT_EQ(RunInstalled(L"-UnregServer"), 0u);
  ExpectGone(HKEY_CLASSES_ROOT, kRegisteredKeys);
  ExpectGone(HKEY_CLASSES_ROOT, {kInterfaceKey, kFolderQueryKey, L"TypeLib\\" + GuidString(LIBID_PelkoLabelSvrLib)},
             KEY_WOW64_32KEY);
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"AppID"));
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  EXPECT_EQ(RunInstalled(L"/UnregServer"), 0u) << "unregistering twice must not fail";
}

TEST(Registration, PerUserRegistrationLivesUnderTheUsersClasses) {
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/RegServerPerUser"), 0u);
  unique_hkey userClasses;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, userClasses.put()), ERROR_SUCCESS);
  ExpectValues(userClasses.get(), ExpectedClassValues());
  ExpectValues(userClasses.get(), {{kTypeLibKey, L"", L"PelkoLabelSvr 1.0 Type Library"},
                                   {kTypeLibKey + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32"), L"", kInstalledProgram},
                                   {kInterfaceKey + L"\\TypeLib", L"", GuidString(LIBID_PelkoLabelSvrLib)}});
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + kClsidKey)) << "written machine-wide";

  ASSERT_EQ(RunInstalled(L"/UnregServerPerUser"), 0u);
  ExpectGone(userClasses.get(), kRegisteredKeys);
  ExpectGone(userClasses.get(), {kInterfaceKey});
}

TEST(Registration, ServiceSwitchInstallsAnAutoStartServiceAndRegServerTakesItAway) {
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, kAppIdKey, L"LocalService").value_or(L""), L"PelkoLabelSvr");
  {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    unique_sc_handle service(OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service);
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), kQuotedProgram);
    if (testing::RunningUnderWine()) {
      std::printf("note: Wine 8 keeps no service dependencies; the RPCSS dependency is checked on Windows only\n");
    } else {
      EXPECT_EQ(std::wstring(config->lpDependencies), L"RPCSS");
    }
    EXPECT_EQ(std::wstring(config->lpDisplayName), L"PelkoLabelSvr");
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
  }
  ExpectValues(HKEY_CLASSES_ROOT, ExpectedClassValues());
  ASSERT_TRUE(WaitForServiceState(SERVICE_RUNNING));

  // A second /Service stops and deletes the running service and creates it anew.
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(WaitForObservedLine(L".events", L"Service stopped"));
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, kAppIdKey, L"LocalService").value_or(L""), L"PelkoLabelSvr");

  ASSERT_EQ(RunInstalled(L"/RegServer"), 0u);
  EXPECT_EQ(ServiceState(), 0u) << "the service is still installed";
  EXPECT_FALSE(ReadRegistryString(HKEY_CLASSES_ROOT, kAppIdKey, L"LocalService"));
  EXPECT_TRUE(ObservedLines(L".messages").empty());
}

// Another service already shows the display name the program's service
// takes: the service manager refuses to create it.
TEST(Registration, ARefusedServiceIsShownAndItsReasonIsTheExitCode) {
  ASSERT_TRUE(InstallProgram());
  {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);
    unique_sc_handle twin(CreateServiceW(manager.get(), L"PelkoLabelSvrTwin", kServiceName, SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         L"C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr, nullptr,
                                         nullptr));
    ASSERT_TRUE(twin) << GetLastError();
  }
  EXPECT_EQ(RunInstalled(L"/Service"), static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_DUPLICATE_SERVICE_NAME)));
  EXPECT_EQ(ObservedLines(L".messages"), std::vector<std::wstring>{L"[PelkoLabelSvr] Could not start service"});
  EXPECT_EQ(ServiceState(), 0u);
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kClsidKey)) << "the steps after the refused one ran";
}

TEST(Registration, StartingByHandEndsWithTheReasonAsExitCode) {
  ASSERT_TRUE(InstallProgram());
  EXPECT_EQ(RunInstalled(L""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "never registered";
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  EXPECT_EQ(RunInstalled(L""), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
}

}  // namespace
}  // namespace pelko
