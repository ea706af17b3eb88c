// Drives the emulator through the real hidapi (hidraw back end). Run with
// LD_PRELOAD="libtestbed_fstat.so libumockdev-preload.so.0".
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <hidapi.h>
#include <linux/hidraw.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <clocale>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "hid_testbed.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Handle = std::unique_ptr<hid_device, decltype(&hid_close)>;
using Enumeration = std::unique_ptr<hid_device_info, decltype(&hid_free_enumeration)>;
using namespace std::chrono_literals;

Handle open_path(const std::string& path) { return Handle(hid_open_path(path.c_str()), hid_close); }
Enumeration enumerate(std::uint16_t vid, std::uint16_t pid) {
  return Enumeration(hid_enumerate(vid, pid), hid_free_enumeration);
}
int count(const Enumeration& list) {
  int n = 0;
  for (auto* info = list.get(); info; info = info->next) ++n;
  return n;
}
Bytes pattern(std::size_t size, std::uint8_t first, std::uint8_t seed) {
  Bytes bytes(size);
  bytes[0] = first;
  for (std::size_t i = 1; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + 7 * i);
  return bytes;
}
int write(const Handle& h, const Bytes& b) { return hid_write(h.get(), b.data(), b.size()); }
Bytes read(const Handle& h, std::size_t capacity, int timeout_ms) {
  Bytes buffer(capacity);
  const int n = hid_read_timeout(h.get(), buffer.data(), capacity, timeout_ms);
  buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return buffer;
}
testbed::DeviceConfig config(std::uint16_t pid) {
  testbed::DeviceConfig cfg;
  cfg.vendor_id = 0x1d50;
  cfg.product_id = pid;
  cfg.manufacturer = "Orvanta";
  cfg.product = "Widget";
  cfg.serial = "SN-" + std::to_string(pid);
  return cfg;
}
int descriptors() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dir && readdir(dir)) ++n;
  if (dir) closedir(dir);
  return n;
}
std::string repeat(const std::string& unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}
std::wstring repeat(const std::wstring& unit, int times) {
  std::wstring out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

TEST(Testbed, OneInstancePerProcess) {
  ASSERT_TRUE(testbed::preload_active());
  testbed::Testbed bed;
  EXPECT_THROW(testbed::Testbed second, std::runtime_error);
}

// libudev fstatfs()es every device it opens; a wrong answer loses a uevent
TEST(Testbed, MockedSysIsSysfsToEveryThreadAtOnce) {
  testbed::Testbed bed;
  bed.add(config(0x0001));
  std::vector<std::future<int>> threads;
  for (int t = 0; t < 4; ++t)
    threads.push_back(std::async(std::launch::async, [] {
      const int fd = ::open("/sys/devices", O_RDONLY | O_DIRECTORY);
      if (fd < 0) return -1;
      int wrong = 0;
      for (int i = 0; i < 20000; ++i) {
        struct statfs fs;
        if (::fstatfs(fd, &fs) != 0 || fs.f_type != SYSFS_MAGIC) ++wrong;
      }
      ::close(fd);
      return wrong;
    }));
  for (auto& t : threads) EXPECT_EQ(t.get(), 0);
}

TEST(Enumeration, ReportsIdsStringsAndDescriptorUsage) {
  testbed::Testbed bed;
  auto plain = config(0x0001);
  plain.release = 0x0123;
  plain.interface_number = 2;
  auto fancy = config(0x0002);
  fancy.manufacturer.reset();
  fancy.product = repeat(u8"Größe 測試 🎮 ", 30);  // 390 characters
  fancy.serial = u8"SN-ü-😀";
  const auto& a = bed.add(plain);
  const auto& b = bed.add(fancy);

  auto list = enumerate(0x1d50, 0);
  ASSERT_EQ(count(list), 2);
  for (auto* info = list.get(); info; info = info->next) {
    EXPECT_EQ(info->bus_type, HID_API_BUS_USB);
    EXPECT_EQ(info->usage_page, 0xFF00);
    EXPECT_EQ(info->usage, 1);
    if (info->path == a.path()) {
      EXPECT_EQ(info->product_id, 0x0001);
      EXPECT_EQ(info->release_number, 0x0123);
      EXPECT_EQ(info->interface_number, 2);
      EXPECT_STREQ(info->manufacturer_string, L"Orvanta");
      EXPECT_STREQ(info->product_string, L"Widget");
      EXPECT_STREQ(info->serial_number, L"SN-1");
    } else {
      EXPECT_EQ(info->path, b.path());
      EXPECT_EQ(info->manufacturer_string, nullptr);
      ASSERT_NE(info->product_string, nullptr);
      EXPECT_EQ(std::wstring(info->product_string), repeat(L"Größe 測試 🎮 ", 30));
      EXPECT_STREQ(info->serial_number, L"SN-ü-😀");
    }
  }

  // on an open handle hidapi fstat()s the node: needs the shim
  Handle h(hid_open(0x1d50, 0x0002, L"SN-ü-😀"), hid_close);
  ASSERT_TRUE(h);
  wchar_t text[512];
  ASSERT_EQ(hid_get_product_string(h.get(), text, 512), 0) << hid_error(h.get());
  EXPECT_EQ(std::wstring(text), repeat(L"Größe 測試 🎮 ", 30));
  ASSERT_EQ(hid_get_manufacturer_string(h.get(), text, 512), 0);
  EXPECT_STREQ(text, L"");
  EXPECT_EQ(hid_open(0x1d50, 0x0003, nullptr), nullptr);
}

TEST(Io, WritesReachTheDeviceByteForByte) {
  testbed::Testbed bed;
  auto& dev = bed.add(config(0x0010));
  Handle h = open_path(dev.path());
  ASSERT_TRUE(h);
  const Bytes report = pattern(65, 0x00, 0x10);  // report ID 0 stays in: the device sees write()
  ASSERT_EQ(write(h, report), 65);
  EXPECT_EQ(dev.pop_output(1000), report);
  EXPECT_EQ(write(h, Bytes{0x00}), -1);  // hidraw rejects < 2 bytes
  EXPECT_EQ(dev.pending_outputs(), 0u);
  EXPECT_EQ(dev.writes(), 1u);
  EXPECT_EQ(dev.pop_output(0), std::nullopt);
}

TEST(Io, InputsArriveWholeInOrderAndTruncated) {
  testbed::Testbed bed;
  auto& dev = bed.add(config(0x0011));
  Handle h = open_path(dev.path());
  ASSERT_TRUE(h);
  EXPECT_EQ(read(h, 64, 0).size(), 0u);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(read(h, 64, 200).size(), 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 190ms);

  const Bytes first = pattern(64, 0xA1, 1), second = pattern(9, 0xB2, 2);
  ASSERT_EQ(dev.push_input(first), testbed::Device::kOk);
  ASSERT_EQ(dev.push_input(second), testbed::Device::kOk);
  EXPECT_EQ(read(h, 10, 1000), Bytes(first.begin(), first.begin() + 10));  // rest dropped
  EXPECT_EQ(read(h, 64, 1000), second);

  // a blocking read parks until input arrives
  auto late = std::async(std::launch::async, [&] { return read(h, 64, -1); });
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(dev.push_input(first), testbed::Device::kOk);
  ASSERT_EQ(late.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(late.get(), first);
  EXPECT_EQ(dev.reads(), 3u);

  for (int i = 0; i < 64; ++i) ASSERT_EQ(dev.push_input(second), testbed::Device::kOk);
  EXPECT_EQ(dev.push_input(second), testbed::Device::kQueueFull);
}

TEST(Io, EchoDevicesAnswerOnlyTheirOwnHost) {
  testbed::Testbed bed;
  std::vector<Handle> handles;
  std::vector<testbed::Device*> devices;
  for (std::uint16_t pid = 0x20; pid < 0x24; ++pid) {
    auto cfg = config(pid);
    cfg.echo = true;
    devices.push_back(&bed.add(cfg));
    handles.push_back(open_path(devices.back()->path()));
    ASSERT_TRUE(handles.back());
  }
  for (int round = 0; round < 5; ++round) {
    for (std::size_t i = 0; i < handles.size(); ++i)
      ASSERT_EQ(write(handles[i], pattern(65, 0x00, static_cast<std::uint8_t>(i * 16 + round))), 65);
    for (std::size_t i = 0; i < handles.size(); ++i) {
      const Bytes sent = pattern(65, 0x00, static_cast<std::uint8_t>(i * 16 + round));
      EXPECT_EQ(read(handles[i], 65, 1000), Bytes(sent.begin() + 1, sent.end()));  // ID 0 stripped
      EXPECT_EQ(devices[i]->pop_output(0), sent);
    }
  }
  ASSERT_EQ(write(handles[0], Bytes{0x07, 1, 2}), 3);
  EXPECT_EQ(read(handles[0], 64, 1000), (Bytes{0x07, 1, 2}));  // a nonzero ID is data
}

TEST(Io, NumberedReportsKeepTheirIds) {
  testbed::Testbed bed;
  auto cfg = config(0x0030);
  cfg.numbered_reports = true;
  auto& dev = bed.add(cfg);
  Handle h = open_path(dev.path());
  ASSERT_TRUE(h);
  const Bytes out = pattern(33, 0x02, 3), in = pattern(9, 0x01, 4);
  ASSERT_EQ(write(h, out), 33);
  EXPECT_EQ(dev.pop_output(1000), out);
  ASSERT_EQ(dev.push_input(in), testbed::Device::kOk);
  EXPECT_EQ(read(h, 64, 1000), in);

  const Bytes feature = pattern(17, 0x03, 5);
  ASSERT_EQ(hid_send_feature_report(h.get(), feature.data(), feature.size()), 17);
  EXPECT_EQ(dev.feature_report(0x03), feature);
  dev.set_feature_report(pattern(17, 0x03, 6));
  Bytes got(17, 0);
  got[0] = 0x03;
  ASSERT_EQ(hid_get_feature_report(h.get(), got.data(), got.size()), 17);
  EXPECT_EQ(got, pattern(17, 0x03, 6));
  got[0] = 0x09;
  EXPECT_EQ(hid_get_feature_report(h.get(), got.data(), got.size()), -1);
}

// The host asks; a responder answers on umockdev's thread, and the host
// sees exactly its report, cut to the request, or a stall.
TEST(Io, RequestsGoToTheResponderAndSentFeaturesQueue) {
  testbed::Testbed bed;
  auto& dev = bed.add(config(0x0031));
  Handle h = open_path(dev.path());
  ASSERT_TRUE(h);
  std::vector<std::string> asked;
  dev.answer_requests([&asked](testbed::RequestKind kind, std::uint8_t id) -> std::optional<Bytes> {
    asked.push_back((kind == testbed::RequestKind::feature ? "feature " : "input ") + std::to_string(id));
    if (id == 9) return std::nullopt;
    return Bytes{id, 0xA0, 0xA1, 0xA2, 0xA3};
  });
  Bytes got(4, 0);
  got[0] = 5;
  EXPECT_EQ(hid_get_feature_report(h.get(), got.data(), got.size()), 4);
  EXPECT_EQ(got, (Bytes{5, 0xA0, 0xA1, 0xA2}));
  got[0] = 6;
  EXPECT_EQ(hid_get_input_report(h.get(), got.data(), got.size()), 4);
  got[0] = 9;
  EXPECT_EQ(hid_get_feature_report(h.get(), got.data(), got.size()), -1);
  EXPECT_EQ(errno, EPIPE);
  EXPECT_EQ(asked, (std::vector<std::string>{"feature 5", "input 6", "feature 9"}));

  const Bytes first = pattern(5, 0x07, 1), second = pattern(3, 0x00, 2);
  ASSERT_EQ(hid_send_feature_report(h.get(), first.data(), first.size()), 5);
  ASSERT_EQ(hid_send_feature_report(h.get(), second.data(), second.size()), 3);
  EXPECT_EQ(dev.pop_feature(1000), first);
  EXPECT_EQ(dev.pop_feature(0), second);
  EXPECT_EQ(dev.pop_feature(0), std::nullopt);

  dev.answer_requests(nullptr);  // back to the reports sent or set
  got[0] = 7;
  EXPECT_EQ(hid_get_feature_report(h.get(), got.data(), got.size()), 4);
  EXPECT_EQ(got, Bytes(first.begin(), first.begin() + 4));
}

// Each bus as the kernel builds it: hidapi lists the kernel's name as the
// product and no manufacturer, release or interface; HIDIOCGRAWINFO tells
// the bus. Unplug and replug rebuild the tree.
TEST(Enumeration, OtherBusesAsTheKernelShowsThem) {
  testbed::Testbed bed;
  const std::pair<testbed::Bus, hid_bus_type> buses[] = {
      {testbed::Bus::bluetooth, HID_API_BUS_BLUETOOTH},
      {testbed::Bus::i2c, HID_API_BUS_I2C},
      {testbed::Bus::spi, HID_API_BUS_SPI}};
  std::uint16_t pid = 0x0090;
  for (const auto& [bus, hidapi_bus] : buses) {
    auto cfg = config(pid);
    cfg.bus = bus;
    cfg.manufacturer.reset();
    auto& dev = bed.add(cfg);
    for (int plug = 0; plug < 2; ++plug) {
      auto list = enumerate(0x1d50, pid);
      ASSERT_EQ(count(list), 1) << static_cast<int>(bus);
      EXPECT_EQ(list->bus_type, hidapi_bus);
      EXPECT_EQ(list->path, dev.path());
      EXPECT_STREQ(list->manufacturer_string, L"");
      EXPECT_STREQ(list->product_string, L"Widget");
      EXPECT_STREQ(list->serial_number, (L"SN-" + std::to_wstring(pid)).c_str());
      EXPECT_EQ(list->release_number, 0);
      EXPECT_EQ(list->interface_number, -1);
      EXPECT_EQ(list->usage_page, 0xFF00);
      Handle h = open_path(dev.path());
      ASSERT_TRUE(h);
      const hid_device_info* own = hid_get_device_info(h.get());  // through the node's fstat
      ASSERT_NE(own, nullptr) << hid_error(h.get());
      EXPECT_EQ(own->bus_type, hidapi_bus);
      const int fd = ::open(dev.path().c_str(), O_RDWR | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      hidraw_devinfo info{};
      ASSERT_EQ(::ioctl(fd, HIDIOCGRAWINFO, &info), 0);
      EXPECT_EQ(info.bustype, static_cast<__u32>(bus));
      EXPECT_EQ(static_cast<std::uint16_t>(info.product), pid);
      ::close(fd);
      h.reset();
      dev.unplug();
      EXPECT_EQ(count(enumerate(0x1d50, pid)), 0);
      dev.replug();
    }
    ++pid;
  }
}

TEST(Hotplug, UnplugEndsBlockedReadAndLeavesEnumeration) {
  testbed::Testbed bed;
  auto& dev = bed.add(config(0x0040));
  auto& other = bed.add(config(0x0041));
  Handle blocking = open_path(dev.path()), polling = open_path(dev.path());
  ASSERT_TRUE(blocking && polling);
  auto parked = std::async(std::launch::async, [&] {
    Bytes buffer(64);
    return hid_read(blocking.get(), buffer.data(), buffer.size());
  });
  auto timed = std::async(std::launch::async, [&] {
    Bytes buffer(64);
    return hid_read_timeout(polling.get(), buffer.data(), buffer.size(), 5000);
  });
  std::this_thread::sleep_for(150ms);
  dev.unplug();
  ASSERT_EQ(parked.wait_for(1s), std::future_status::ready) << "blocked hid_read hangs";
  ASSERT_EQ(timed.wait_for(1s), std::future_status::ready);
  EXPECT_EQ(parked.get(), -1);
  EXPECT_EQ(timed.get(), -1);
  EXPECT_EQ(write(blocking, pattern(65, 0, 0)), -1);
  EXPECT_EQ(dev.push_input(Bytes{1}), testbed::Device::kUnplugged);
  for (int i = 0; i < 60; ++i) {  // umockdev's preload aborts after 50 leaked ones
    ASSERT_FALSE(open_path(dev.path()));
    ASSERT_FALSE(open_path("/dev/hidraw77"));
  }
  EXPECT_EQ(count(enumerate(0x1d50, 0x0040)), 0);
  EXPECT_EQ(count(enumerate(0x1d50, 0x0041)), 1);
  Handle unaffected = open_path(other.path());
  ASSERT_TRUE(unaffected);
  EXPECT_EQ(write(unaffected, pattern(3, 0, 0)), 3);
}

// As hidraw: poll hangs up at once, read() gives what was queued and then
// EIO, write() and ioctl() ENODEV.
TEST(Hotplug, UnplugLooksAsTheKernelMakesIt) {
  testbed::Testbed bed;
  auto& dev = bed.add(config(0x0048));
  Handle h = open_path(dev.path());
  ASSERT_TRUE(h);
  const int raw = ::open(dev.path().c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  ASSERT_EQ(dev.push_input(Bytes{1, 2}), testbed::Device::kOk);
  ASSERT_EQ(dev.push_input(Bytes{3}), testbed::Device::kOk);
  dev.unplug();
  pollfd fd = {raw, POLLIN, 0};
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(::poll(&fd, 1, 5000), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(fd.revents & (POLLIN | POLLERR | POLLHUP), POLLIN | POLLERR | POLLHUP);
  // hidapi's poll path: the hang-up, with no errno
  Bytes buffer(64);
  errno = 0;
  EXPECT_EQ(hid_read_timeout(h.get(), buffer.data(), buffer.size(), 1000), -1);
  EXPECT_EQ(errno, 0);
  // its read path (no time limit): the queue, then EIO
  EXPECT_EQ(hid_read(h.get(), buffer.data(), buffer.size()), 2);
  EXPECT_EQ(buffer[1], 2);
  EXPECT_EQ(hid_read(h.get(), buffer.data(), buffer.size()), 1);
  EXPECT_EQ(hid_read(h.get(), buffer.data(), buffer.size()), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(write(h, pattern(3, 0, 0)), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(hid_send_feature_report(h.get(), buffer.data(), 4), -1);
  EXPECT_EQ(errno, ENODEV);
  ::close(raw);
}

TEST(Hotplug, ReplugBringsTheDeviceBackButNotOldHandles) {
  testbed::Testbed bed;
  auto& dev = bed.add(config(0x0050));
  Handle old = open_path(dev.path());
  ASSERT_TRUE(old);
  dev.unplug();
  dev.replug();
  EXPECT_TRUE(dev.plugged());
  auto list = enumerate(0x1d50, 0x0050);
  ASSERT_EQ(count(list), 1);
  EXPECT_EQ(list->path, dev.path());
  Handle fresh = open_path(dev.path());
  ASSERT_TRUE(fresh);
  wchar_t serial[32];
  ASSERT_EQ(hid_get_serial_number_string(fresh.get(), serial, 32), 0);
  EXPECT_STREQ(serial, L"SN-80");
  ASSERT_EQ(write(fresh, pattern(5, 0, 9)), 5);
  EXPECT_EQ(dev.pop_output(1000), pattern(5, 0, 9));
  ASSERT_EQ(dev.push_input(Bytes{4, 5, 6}), testbed::Device::kOk);
  EXPECT_EQ(read(fresh, 64, 1000), (Bytes{4, 5, 6}));
  EXPECT_EQ(write(old, pattern(5, 0, 9)), -1);
  Bytes buffer(64);
  EXPECT_EQ(hid_read_timeout(old.get(), buffer.data(), buffer.size(), 100), -1);
}

TEST(Hostile, RawContentReachesHidapiAsGiven) {
  testbed::Testbed bed;
  auto empty = config(0x0060);
  empty.raw_descriptor = true;  // no items at all, not the default
  empty.manufacturer = std::string("\xff\xfe", 2);  // not UTF-8: hidapi gives ""
  empty.product = std::string("ctl\x01\x1b\0cut", 9);
  empty.attributes["usb/bcdDevice"] = std::nullopt;
  empty.attributes["interface/bInterfaceNumber"] = "1f";  // no newline
  auto& a = bed.add(empty);
  auto unnamed = config(0x0061);
  unnamed.hid_uevent["HID_NAME"] = std::nullopt;  // hidapi skips such a device
  bed.add(unnamed);
  auto renamed = config(0x0062);
  renamed.hid_uevent["HID_UNIQ"] = "\xf0\x9f\x98\x80\r";  // uevent lines are taken as they are
  renamed.attributes["hid/report_descriptor"] = std::string("\x09\x01\xa1\x01\x09\x02\xa1\x01", 8);
  bed.add(renamed);

  auto list = enumerate(0x1d50, 0);
  ASSERT_EQ(count(list), 3);  // renamed: two collections in sysfs
  const hid_device_info* first = list.get();
  EXPECT_EQ(first->path, a.path());
  EXPECT_EQ(first->usage_page, 0);
  EXPECT_EQ(first->release_number, 0);
  EXPECT_EQ(first->interface_number, 0x1f);
  EXPECT_STREQ(first->manufacturer_string, L"");
  EXPECT_STREQ(first->product_string, L"ctl\x01\x1b");
  // the override is the uevent's last line, and libudev strips its end
  EXPECT_STREQ(first->next->serial_number, L"\U0001F600");
  Handle h = open_path(a.path());
  ASSERT_TRUE(h);
  const Bytes longest(16384, 0x5A);
  ASSERT_EQ(a.push_input(longest), testbed::Device::kOk);
  EXPECT_EQ(read(h, 16384, 1000), longest);
  EXPECT_THROW(bed.add([] { auto c = config(0x0063); c.report_descriptor.resize(4097); return c; }()),
               std::invalid_argument);
}

TEST(Hostile, VanishingDeviceOpensButAnswersNothing) {
  testbed::Testbed bed;
  auto cfg = config(0x0070);
  cfg.vanish_on_open = true;
  const auto& dev = bed.add(cfg);
  EXPECT_EQ(count(enumerate(0x1d50, 0x0070)), 1);
  // bare open() and ioctl(): hidapi itself frees its device twice here
  const int fd = ::open(dev.path().c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  int size = 0;
  EXPECT_EQ(::ioctl(fd, HIDIOCGRDESCSIZE, &size), -1);
  EXPECT_EQ(errno, ENODEV);
  ::close(fd);
}

TEST(Hostile, RemovedDevicesFreeTheirPathsAndDescriptors) {
  testbed::Testbed bed;
  const int before = descriptors();
  std::string path;
  for (int i = 0; i < 60; ++i) {
    auto& dev = bed.add(config(0x0080));
    if (i == 0) path = dev.path();
    EXPECT_EQ(dev.path(), path);  // the path is reused
    { Handle h = open_path(dev.path()); ASSERT_TRUE(h); }
    bed.remove(dev);
    ASSERT_FALSE(open_path(path));  // the preload leaks a socket here
  }
  EXPECT_EQ(bed.device_count(), 0u);
  EXPECT_GE(testbed::Testbed::close_orphaned_sockets(), 60);
  EXPECT_LE(descriptors(), before + 4);
}

TEST(Scale, ThousandDevicesEnumerate) {
  testbed::Testbed bed;
  for (int i = 0; i < 1000; ++i) bed.add(config(static_cast<std::uint16_t>(0x1000 + i)));
  EXPECT_EQ(count(enumerate(0x1d50, 0)), 1000);
  Handle last = open_path("/dev/hidraw999");
  ASSERT_TRUE(last);
  EXPECT_EQ(write(last, pattern(3, 0, 1)), 3);
}

}  // namespace

int main(int argc, char** argv) {
  // bare hidapi decodes sysfs strings in the process's locale
  std::setlocale(LC_ALL, "C.UTF-8");
  testing::InitGoogleTest(&argc, argv);
  if (hid_init() != 0) return 2;
  const int result = RUN_ALL_TESTS();
  hid_exit();
  return result;
}
