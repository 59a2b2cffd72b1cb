#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestHost.h"
#include "link/D2XXUnit.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {
namespace {

// Answers every call with one status and remembers what it was given.
class ScriptedApi final : public FtApi {
 public:
  FtStatus status = ft::Ok;
  std::string openedWith;
  std::uint32_t openFlags = 0;
  std::uintptr_t listedIndex = 0;
  std::uint32_t listFlags = 0;
  std::string listAnswer = "FT123456";

  FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) override {
    listFlags = flags;
    if ((flags & ft::ListNumberOnly) != 0) {
      if (status == ft::Ok) *static_cast<std::uint32_t*>(arg1) = 3;
    } else {
      listedIndex = reinterpret_cast<std::uintptr_t>(arg1);
      if (status == ft::Ok) std::strcpy(static_cast<char*>(arg2), listAnswer.c_str());
    }
    return status;
  }
  FtStatus OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) override {
    openedWith = static_cast<const char*>(arg1);
    openFlags = flags;
    *handle = reinterpret_cast<FtHandle>(std::uintptr_t{0x1234});
    return status;
  }
  FtStatus SetTimeouts(FtHandle, std::uint32_t, std::uint32_t) override { return status; }
  FtStatus GetQueueStatus(FtHandle, std::uint32_t* n) override {
    *n = 7;
    return status;
  }
  FtStatus Write(FtHandle, const void*, std::uint32_t count, std::uint32_t* written) override {
    *written = count;
    return status;
  }
  FtStatus Read(FtHandle, void*, std::uint32_t count, std::uint32_t* received) override {
    *received = count;
    return status;
  }
  FtStatus Close(FtHandle) override { return status; }
};

class D2XXUnitTest : public ::testing::Test {
 protected:
  TestHost host;
  ScriptedApi api;
  D2XXUnit usb{api, host.events};
};

TEST_F(D2XXUnitTest, OpenPassesTheSerialTextCutTo49Characters) {
  usb.Open_USB_Device_By_Serial_Number("");
  EXPECT_EQ(api.openedWith, "");
  EXPECT_EQ(api.openFlags, ft::OpenBySerialNumber);
  usb.Open_USB_Device_By_Serial_Number(std::string(60, 'S'));
  EXPECT_EQ(api.openedWith, std::string(49, 'S'));
  EXPECT_TRUE(usb.isOpen());
  usb.CloseFTDevice();
  EXPECT_FALSE(usb.isOpen());
  EXPECT_NE(usb.handle(), nullptr);  // a close keeps the handle value
}

TEST_F(D2XXUnitTest, QueriesPassTheIndexItselfAndKeepAtMost49Characters) {
  api.listAnswer = std::string(63, 'D');
  ASSERT_EQ(usb.GetFTDeviceDescription(2), ft::Ok);
  EXPECT_EQ(api.listedIndex, 2u);
  EXPECT_EQ(api.listFlags, ft::ListByIndex | ft::OpenByDescription);
  EXPECT_EQ(usb.deviceString(), std::string(49, 'D'));

  api.listAnswer = "VP1";
  ASSERT_EQ(usb.GetFTDeviceSerialNo(0), ft::Ok);
  EXPECT_EQ(api.listFlags, ft::ListByIndex | ft::OpenBySerialNumber);
  EXPECT_EQ(usb.deviceString(), "VP1");

  api.status = ft::DeviceNotFound;  // a failed query leaves the text alone
  usb.setErrorReporting(false);
  usb.GetFTDeviceSerialNo(5);
  EXPECT_EQ(usb.deviceString(), "VP1");
}

TEST_F(D2XXUnitTest, CountIsKeptFromTheLastSuccessfulCall) {
  ASSERT_EQ(usb.GetFTDeviceCount(), ft::Ok);
  EXPECT_EQ(usb.deviceCount(), 3u);
  api.status = ft::IoError;
  usb.setErrorReporting(false);
  usb.GetFTDeviceCount();
  EXPECT_EQ(usb.deviceCount(), 3u);
}

TEST_F(D2XXUnitTest, FailingStatusesShowAnErrorBoxNamingTheOperation) {
  const struct {
    FtStatus status;
    const char* text;
  } cases[] = {
      {1, "FT_Write - Invalid Handle..."},
      {2, "FT_Write - Device Not Found...."},
      {3, "FT_Write - Device Not Opened..."},
      {4, "FT_Write - General IO Error..."},
      {5, "FT_Write - Insufficient Resources..."},
      {6, "FT_Write - Invalid Parameter ..."},
      {7, ""},
  };
  for (const auto& c : cases) {
    api.status = c.status;
    host.boxes.clear();
    EXPECT_EQ(usb.WriteFTBuffer(8), 0u) << c.status;  // a failed write transferred nothing
    ASSERT_EQ(host.boxes.size(), 1u) << c.status;
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(host.boxes[0].text, c.text);
    EXPECT_FALSE(host.boxes[0].topLeft.has_value());
  }
  api.status = ft::DeviceNotOpened;
  host.boxes.clear();
  usb.Open_USB_Device_By_Serial_Number("x");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Open_USB_Device_By_Serial_Number - Device Not Opened...");
  EXPECT_FALSE(usb.isOpen());
}

TEST_F(D2XXUnitTest, EachOperationReportsUnderItsOwnName) {
  api.status = ft::IoError;
  usb.GetFTDeviceCount();
  usb.GetFTDeviceSerialNo(0);
  usb.GetFTDeviceDescription(0);
  usb.CloseFTDevice();
  usb.SetFTTimeouts(500, 0);
  usb.GetFTQueueStatus();
  usb.ReadFTBuffer(8);
  const std::vector<std::string> expected = {"GetFTDeviceCount - General IO Error...",
                                             "GetFTDeviceSerialNo - General IO Error...",
                                             "GetFTDeviceDescription - General IO Error...",
                                             "FT_Close - General IO Error...",
                                             "FT_SetTimeouts - General IO Error...",
                                             "FT_GetQueueStatus - General IO Error...",
                                             "FT_Read - General IO Error..."};
  EXPECT_EQ(host.boxTexts(), expected);
}

TEST_F(D2XXUnitTest, WithReportingOffNothingShowsButTheCallerSeesTheStatus) {
  usb.setErrorReporting(false);
  api.status = ft::IoError;
  EXPECT_EQ(usb.GetFTQueueStatus(), ft::IoError);
  EXPECT_EQ(usb.ReadFTBuffer(8), 0u);
  EXPECT_TRUE(host.boxes.empty());
}

TEST(D2XXUnitOnVirtualProgrammer, LongDescriptionsAreCutAt49Characters) {
  TestHost host;
  VirtualProgrammer programmer(host.clock);
  programmer.devices()[0].description = std::string(70, 'x');
  D2XXUnit usb(programmer, host.events);
  ASSERT_EQ(usb.GetFTDeviceDescription(0), ft::Ok);
  EXPECT_EQ(usb.deviceString().size(), 49u);
}

}  // namespace
}  // namespace tandra::test
