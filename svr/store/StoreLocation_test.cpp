// Runs in a prefix of its own: it writes to the machine's product data folder.

#include <gtest/gtest.h>

#include "Win32LabelDatabase.h"
#include "StoreEntryPoints.h"
#include "WineTestSupport.h"

namespace pelko {
namespace {

TEST(StoreLocation, TheDatabaseLivesInTheMachineWideProductDataFolder) {
  auto database = Win32LabelDatabase::ForProductDataFolder();
  ASSERT_TRUE(database);
  EXPECT_EQ(database->FilePath(), L"C:\\ProgramData\\Norvane\\Pelko Labels\\labels.lst");

  ASSERT_TRUE(CreateStoreMutex());
  AttachStoreDatabase(database.get());
  EXPECT_EQ(StoreLoad().status, LoadStatus::NoFile);
  StoreSetLabel(L"C:\\a.txt", 1);
  ASSERT_TRUE(StoreSave());
  CloseStoreMutex();

  const std::string bytes = testing::ReadWholeFile(L"C:\\ProgramData\\Norvane\\Pelko Labels\\labels.lst");
  ASSERT_EQ(bytes.size(), 12u + 4 + 16 + 4);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xd9\x07\0\0", 4));
}

}  // namespace
}  // namespace pelko
