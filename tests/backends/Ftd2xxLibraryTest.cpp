#include "link/Ftd2xxLibrary.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FakeD2xx.h"

namespace tandra {
namespace {

// The fake library reached by the test itself, as the system loads libraries.
#if defined(_WIN32)
void* openLibrary(const char* path) {
  return reinterpret_cast<void*>(::LoadLibraryA(path));
}
void* symbolIn(void* module, const char* name) {
  const FARPROC address = ::GetProcAddress(reinterpret_cast<HMODULE>(module), name);
  void* symbol = nullptr;
  std::memcpy(&symbol, &address, sizeof symbol);
  return symbol;
}
void closeLibrary(void* module) {
  ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}
bool isLoaded(const char* path) {
  return ::GetModuleHandleA(path) != nullptr;
}
#else
void* openLibrary(const char* path) {
  return dlopen(path, RTLD_NOW);
}
void* symbolIn(void* module, const char* name) {
  return dlsym(module, name);
}
void closeLibrary(void* module) {
  dlclose(module);
}
bool isLoaded(const char* path) {
  void* const module = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (module != nullptr) dlclose(module);
  return module != nullptr;
}
#endif

TEST(Ftd2xxLibraryLoad, TakesOnlyCompleteLibrariesAndUnloadsThem) {
  EXPECT_EQ(Ftd2xxLibrary::load("/nonexistent/libftd2xx.so"), nullptr);
  EXPECT_EQ(Ftd2xxLibrary::load(FAKE_D2XX_NO_READ_PATH), nullptr);
  EXPECT_FALSE(isLoaded(FAKE_D2XX_NO_READ_PATH));

  auto library = Ftd2xxLibrary::load(FAKE_D2XX_NO_LATENCY_PATH);  // that one is optional
  ASSERT_NE(library, nullptr);
  char first[] = "";
  FtHandle handle = nullptr;
  EXPECT_EQ(library->OpenEx(first, ft::OpenBySerialNumber, &handle), ft::Ok);
  EXPECT_EQ(handle, kFakeD2xxHandle);
  library.reset();
  EXPECT_FALSE(isLoaded(FAKE_D2XX_NO_LATENCY_PATH));
}

// Reaches the fake's record through a reference of the test's own, which keeps it loaded.
class Ftd2xxLibraryCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeD2xxStateFn stateFn = nullptr;
    void* const symbol = module_ != nullptr ? symbolIn(module_, kFakeD2xxStateSymbol) : nullptr;
    std::memcpy(&stateFn, &symbol, sizeof stateFn);
    ASSERT_NE(stateFn, nullptr);
    *(fake = stateFn()) = FakeD2xxState{};
    ASSERT_NE(library = Ftd2xxLibrary::load(FAKE_D2XX_PATH), nullptr);
  }
  void TearDown() override {
    library.reset();
    if (module_ != nullptr) closeLibrary(module_);
  }

  void* module_ = openLibrary(FAKE_D2XX_PATH);
  FakeD2xxState* fake = nullptr;
  std::unique_ptr<Ftd2xxLibrary> library;
  std::uint32_t n = 0;
};

TEST_F(Ftd2xxLibraryCalls, ListingAndOpeningPassArgumentsThrough) {
  fake->deviceCount = 3;
  ASSERT_EQ(library->ListDevices(&n, nullptr, ft::ListNumberOnly), ft::Ok);
  EXPECT_EQ(n, 3u);
  // The index travels in place of a pointer and must arrive as that same value.
  char text[ft::ListStringCapacity] = {};
  void* const index = reinterpret_cast<void*>(std::uintptr_t{2});
  ASSERT_EQ(library->ListDevices(index, text, ft::ListByIndex | ft::OpenBySerialNumber), ft::Ok);
  EXPECT_EQ(fake->listArg1, index);
  EXPECT_EQ(fake->listFlags, ft::ListByIndex | ft::OpenBySerialNumber);
  EXPECT_STREQ(text, "FT5EED01");

  // The handle just opened, and only after a success, has both buffers purged (bytes of an
  // earlier session are no reply) and the latency timer set to 2 ms.
  FtHandle handle = nullptr;
  fake->result = ft::DeviceNotOpened;
  EXPECT_EQ(library->OpenEx(text, ft::OpenBySerialNumber, &handle), ft::DeviceNotOpened);
  EXPECT_EQ(fake->latencyCalls, 0);
  EXPECT_EQ(fake->purgeCalls, 0);
  EXPECT_EQ(library->latencyTimerMs(), 16u);
  fake->result = ft::Ok;
  ASSERT_EQ(library->OpenEx(text, ft::OpenBySerialNumber, &handle), ft::Ok);
  EXPECT_STREQ(fake->openText, "FT5EED01");
  EXPECT_EQ(fake->purgeCalls, 1);
  EXPECT_EQ(fake->purgeMask, 3u);  // FT_PURGE_RX | FT_PURGE_TX
  EXPECT_EQ(fake->purgeHandle, kFakeD2xxHandle);
  EXPECT_EQ(fake->latencyCalls, 1);
  EXPECT_EQ(fake->latency, 2);
  EXPECT_EQ(fake->latencyHandle, kFakeD2xxHandle);
  EXPECT_EQ(library->latencyTimerMs(), 2u);
}

TEST_F(Ftd2xxLibraryCalls, AChipNotOpenedIsExplainedWithTheFixForItsCause) {
  // The library says only "not opened": a node this user may not open comes first, then the
  // kernel's serial driver; for anything else there is nothing to tell.
  struct Case {
    bool nodesOpenable, driverLoaded;
    std::vector<std::string> notes;
  } const cases[] = {
      {false, true, {opennote::kNoPermission}},
      {false, false, {opennote::kNoPermission}},
      {true, true, {opennote::kSerialDriver}},
      {true, false, {}},
  };
  FtHandle handle = nullptr;
  char any[] = "";
  fake->result = ft::DeviceNotOpened;
  for (const Case& c : cases) {
    library->deviceNodesOpenable = [&] { return c.nodesOpenable; };
    library->serialDriverLoaded = [&] { return c.driverLoaded; };
    library->OpenEx(any, ft::OpenBySerialNumber, &handle);
    EXPECT_EQ(library->takeNotes(), c.notes) << c.nodesOpenable << c.driverLoaded;
    EXPECT_TRUE(library->takeNotes().empty());  // told once
  }
}

// Where the system keeps no list of USB devices (Windows), the library's list says what is
// attached, and an open device's release and speed come from it.
TEST_F(Ftd2xxLibraryCalls, WithoutTheSystemsListTheLibraryListsTheDevices) {
  library->systemUsbDevices = "/nonexistent/usb/devices";
  EXPECT_TRUE(library->usbDevices().empty());
  fake->deviceCount = 2;
  std::vector<UsbDevice> devices = library->usbDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1].vidPid(), "0403:6001");
  EXPECT_EQ(devices[1].bcdDevice, "0600");  // an FT232R
  EXPECT_EQ(devices[1].serial, "FT5EED01");
  EXPECT_EQ(devices[1].product, "Fake Programmer");
  EXPECT_EQ(devices[1].speedText(), "full speed (12 Mb/s)");
  EXPECT_EQ(devices[1].maxPacketSize, 64);
  EXPECT_EQ(devices[1].node, "D2XX device 1");
  EXPECT_TRUE(devices[1].mayOpen);

  fake->detailHighSpeed = true;
  devices = library->usbDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].vidPid(), "0403:6014");
  EXPECT_EQ(devices[0].bcdDevice, "0900");  // an FT232H
  EXPECT_EQ(devices[0].speedText(), "high speed (480 Mb/s)");
  EXPECT_EQ(devices[0].maxPacketSize, 512);

  char first[] = "FT5EED00";
  FtHandle handle = nullptr;
  ASSERT_EQ(library->OpenEx(first, ft::OpenBySerialNumber, &handle), ft::Ok);
  std::vector<std::string> facts;
  for (const DriverFact& fact : library->facts()) facts.push_back(fact.key + " " + fact.value);
  for (const char* fact :
       {"bcdDevice 0900", "max-packet-size 512", "speed high speed (480 Mb/s)"}) {
    EXPECT_NE(std::find(facts.begin(), facts.end(), fact), facts.end()) << fact;
  }

  fake->result = ft::IoError;  // a library that cannot list lists nothing
  EXPECT_TRUE(library->usbDevices().empty());
}

TEST(Ftd2xxLibraryLatency, ALibraryOrChipWithoutTheLatencyTimerIsToldOf) {
  auto library = Ftd2xxLibrary::load(FAKE_D2XX_NO_LATENCY_PATH);
  ASSERT_NE(library, nullptr);
  char first[] = "";
  FtHandle handle = nullptr;
  ASSERT_EQ(library->OpenEx(first, ft::OpenBySerialNumber, &handle), ft::Ok);
  EXPECT_EQ(library->latencyTimerMs(), 16u);
  EXPECT_EQ(library->takeNotes(), std::vector<std::string>{opennote::kNoLatencyTimer});
}

TEST_F(Ftd2xxLibraryCalls, TransfersPassDataCountsAndStatusesThrough) {
  FtHandle const handle = kFakeD2xxHandle;
  std::vector<std::uint8_t> packet(264);
  for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<std::uint8_t>(i);
  ASSERT_EQ(library->Write(handle, packet.data(), 264, &n), ft::Ok);
  EXPECT_EQ(n, 264u);
  EXPECT_EQ(std::vector<std::uint8_t>(fake->written, fake->written + fake->writtenCount), packet);
  fake->readLength = 5;  // a short read is still Ok; the count tells
  ASSERT_EQ(library->Read(handle, packet.data(), 8, &n), ft::Ok);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(packet[4], 0xA4);

  fake->result = ft::IoError;
  EXPECT_EQ(library->Read(handle, packet.data(), 8, &n), ft::IoError);
  EXPECT_EQ(library->Close(handle), ft::IoError);
  EXPECT_EQ(fake->lastHandle, handle);
}

}  // namespace
}  // namespace tandra
