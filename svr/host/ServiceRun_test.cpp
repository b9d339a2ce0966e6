// The service's life: started by COM, stopped, restarted, damaged files,
// controls, and the plain server's end after its last client.

#include <windows.h>

#include <gtest/gtest.h>

#include "ComPtr.h"
#include "PelkoLabelSvr.h"
#include "ServiceModule.h"
#include "ServiceTestSupport.h"
#include "StoreEntryPoints.h"
#include "UniqueHandle.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

using namespace testing;

TEST(ServiceRun, ComStartsTheServiceAndItsLabelsSurviveARestart) {
  ComApartment apartment;
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  ASSERT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
  {
    com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
    ASSERT_TRUE(labels);
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    const DWORD dataFolder = GetFileAttributesW(L"C:\\ProgramData\\Norvane\\Pelko Labels");
    EXPECT_TRUE(dataFolder != INVALID_FILE_ATTRIBUTES && (dataFolder & FILE_ATTRIBUTE_DIRECTORY))
        << "a running service has made its data folder, before any label is saved";
    EXPECT_EQ(SetLabelOf(labels.get(), L"D:\\Work\\Plan", 4), S_OK);
    EXPECT_EQ(SetLabelOf(labels.get(), L"C:\\a.txt", 1), S_OK);
    EXPECT_EQ(labels->put_IsNewVersionNotified(VARIANT_TRUE), S_OK);
  }
  EXPECT_TRUE(WaitForObservedLine(L".events", L"Service started"));

  ASSERT_TRUE(SendServiceControl(SERVICE_CONTROL_STOP));
  ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED));
  EXPECT_EQ(ReadWholeFile(kDatabaseFile), testing::WorkedExampleLabelFile());
  EXPECT_TRUE(WaitForObservedLine(L".events", L"Service stopped"));

  com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
  ASSERT_TRUE(labels);
  EXPECT_EQ(LabelOf(labels.get(), L"c:\\A.TXT"), 1u);
  EXPECT_EQ(LabelOf(labels.get(), L"D:\\Work\\Plan"), 4u);
  VARIANT_BOOL notified = 7;
  EXPECT_EQ(labels->get_IsNewVersionNotified(&notified), S_OK);
  EXPECT_EQ(notified, VARIANT_FALSE) << "the flag lives only as long as the service process";
}

TEST(ServiceRun, ALabelIsOnDiskAMomentAfterItWasSet) {
  ComApartment apartment;
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
  ASSERT_TRUE(labels);
  ASSERT_EQ(SetLabelOf(labels.get(), L"D:\\Work\\Plan", 4), S_OK);
  ASSERT_EQ(SetLabelOf(labels.get(), L"C:\\a.txt", 1), S_OK);
  // Long before the 60 s backstop: a crash now would lose nothing.
  bool written = false;
  for (int i = 0; i < 100 && !written; ++i, Sleep(100)) written = ReadWholeFile(kDatabaseFile) == testing::WorkedExampleLabelFile();
  EXPECT_TRUE(written);
}

TEST(ServiceRun, ADamagedDatabaseIsMovedAsideAndTheServiceRunsEmpty) {
  ComApartment apartment;
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  CreateDirectoryW(L"C:\\ProgramData\\Norvane", nullptr);
  CreateDirectoryW(L"C:\\ProgramData\\Norvane\\Pelko Labels", nullptr);
  const std::string damaged("\x01\x02\x03\x04\x01\0\0\0\0\0\0\0", 12);
  ASSERT_TRUE(WriteWholeFile(kDatabaseFile, damaged));

  com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
  ASSERT_TRUE(labels);
  ULONG count = 99;
  VARIANT paths, labelValues;
  VariantInit(&paths);
  VariantInit(&labelValues);
  EXPECT_EQ(labels->GetLabelCollection(0, &count, &paths, &labelValues), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(paths.vt, VT_EMPTY);

  const std::wstring movedTo = std::wstring(kDatabaseFile) + L".bad-";
  ASSERT_TRUE(WaitForObservedLine(L".events", movedTo));
  std::wstring line;
  for (const std::wstring& observed : ObservedLines(L".events")) {
    if (observed.find(movedTo) != std::wstring::npos) line = observed;
  }
  const std::size_t at = line.find(movedTo);
  const std::wstring file = line.substr(at, movedTo.size() + 15);  // YYYYMMDD-HHMMSS
  EXPECT_EQ(ReadWholeFile(file), damaged) << std::string(line.begin(), line.end());
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST(ServiceRun, AnUnknownControlIsReportedAndTheServiceKeepsRunning) {
  ComApartment apartment;
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/Service"), 0u);
  com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
  ASSERT_TRUE(labels);
  ASSERT_TRUE(SendServiceControl(128));
  EXPECT_TRUE(WaitForObservedLine(L".events", L"Bad service request"));
  EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(SetLabelOf(labels.get(), L"C:\\x", 2), S_OK);
}

TEST(ServiceRun, APlainServerEndsAFewSecondsAfterItsLastClientLetGo) {
  ComApartment apartment;
  ASSERT_TRUE(InstallProgram());
  ASSERT_EQ(RunInstalled(L"/RegServer"), 0u);
  com_ptr<ILabelUtil> labels = CreateLabelUtilByProgId();
  ASSERT_TRUE(labels);
  EXPECT_EQ(SetLabelOf(labels.get(), L"C:\\a.txt", 1), S_OK);
  const std::vector<DWORD> servers = FindProcesses(L"PelkoLabelSvr.exe");
  ASSERT_EQ(servers.size(), 1u);
  unique_handle server(OpenProcess(SYNCHRONIZE, FALSE, servers[0]));
  ASSERT_TRUE(server);

  labels.reset();
  const DWORD released = GetTickCount();
  ASSERT_EQ(WaitForSingleObject(server.get(), 15000), WAIT_OBJECT_0);
  const DWORD lived = GetTickCount() - released;
  // 5 s of no activity, then the 1 s pause; a little slack for Wine.
  EXPECT_GE(lived, 5000u);
  EXPECT_LE(lived, 9000u);
  EXPECT_FALSE(ReadWholeFile(kDatabaseFile).empty()) << "the last save did not happen";
}

// Wine's service manager refuses the shutdown control, so the handler is
// driven in-process.
TEST(ServiceRun, TheShutdownControlSavesBeforeAnythingElse) {
  CPelkoLabelSvrModule module;
  module.SetRunningAsService(true);
  ASSERT_EQ(module.BeforeMessageLoop(), S_OK);
  ASSERT_TRUE(StoreSetLabel(L"C:\\a.txt", 1));
  ASSERT_TRUE(StoreSetLabel(L"D:\\Work\\Plan", 4));

  module.ServiceCtrlHandler(SERVICE_CONTROL_SHUTDOWN);
  EXPECT_EQ(ReadWholeFile(kDatabaseFile), testing::WorkedExampleLabelFile()) << "not saved at the shutdown control";
  EXPECT_EQ(module.CurrentState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
  MSG message;
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the service thread was not told";

  EXPECT_EQ(module.AfterMessageLoop(), S_OK);
  EXPECT_EQ(ReadWholeFile(kDatabaseFile), testing::WorkedExampleLabelFile());
  EXPECT_TRUE(module.WorkerThreadsEnded()) << "a thread outlives the stop";
}

}  // namespace
}  // namespace pelko
