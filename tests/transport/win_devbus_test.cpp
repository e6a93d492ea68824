// The real Win32 device bus where Wine can answer: SetupAPI gives an empty USB device set, the
// configuration manager knows no token, CreateFileA opens what exists, and the SCSI pass-through
// is refused for anything but a real drive. (The pass-through buffer layout is checked at
// compile time in the bus itself.)
#include <windows.h>

#include <gtest/gtest.h>

#include "uk_devbus_win.h"

namespace {

TEST(Win32Bus, WithoutTokensEverythingFailsCleanly) {
  uk::DeviceBus &bus = *uk::win32Bus();
  char paths[8][256];
  uint32_t found = 99;
  EXPECT_TRUE(bus.listUsbInterfaces(paths, 8, &found));
  EXPECT_EQ(found, 0u);

  char child[260] = "untouched";
  EXPECT_NE(bus.firstChild("USB\\VID_0B0C&PID_10AE\\NOSUCHTOKEN", child, sizeof child), 0u);

  char path[260] = {0};
  const char *failed = nullptr;
  EXPECT_NE(bus.interfacePath("USBSTOR\\CDROM&VEN_KESTRA\\NONE", uk::DevClass::CdRom, path,
                              sizeof path, &failed),
            0u);
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(strncmp(failed, "SetupDi", 7), 0) << failed;

  uintptr_t h = 0;
  EXPECT_EQ(bus.open("c:\\no\\such\\device", &h), uint32_t(ERROR_PATH_NOT_FOUND));
  char dir[MAX_PATH], file[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  ASSERT_NE(GetTempFileNameA(dir, "ukb", 0, file), 0u);
  ASSERT_EQ(bus.open(file, &h), 0u);
  const uint8_t cdb[10] = {0xFF, 'M', 'A', 'R', 'V', 'O', 1, 0x10, 0x00, 0};
  uint8_t buf[4096];
  uint32_t moved = 0;
  EXPECT_NE(bus.scsi(h, cdb, true, buf, sizeof buf, &moved), 0u);  // not a SCSI device
  bus.close(h);
  DeleteFileA(file);
}

}  // namespace
