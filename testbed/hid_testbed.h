// Emulated USB HID devices below hidapi: a umockdev testbed with sysfs
// entries and /dev/hidraw nodes that the real hidapi (hidraw back end) finds,
// opens, reads and writes.
//
// The process must start with LD_PRELOAD="libtestbed_fstat.so
// libumockdev-preload.so.0"; a preload loaded later does not take over libc calls.
// Close every hidapi handle before the Testbed is destroyed: an orphaned
// handle's next hid_write blocks forever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testbed {

// True when libumockdev-preload is loaded into this process.
bool preload_active();

// How a device is attached: the kernel's BUS_ numbers.
enum class Bus : std::uint16_t { usb = 0x03, bluetooth = 0x05, i2c = 0x18, spi = 0x1C };

struct DeviceConfig {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  // Another bus than USB gets the sysfs tree the kernel gives it, without the
  // USB levels: hidapi then lists no manufacturer, release 0, interface -1,
  // and the product as the kernel's name. release, interface_number and
  // manufacturer are USB's only.
  Bus bus = Bus::usb;
  std::uint16_t release = 0x0100;  // bcdDevice
  int interface_number = 0;
  // Unset: the sysfs attribute is absent and hidapi reports a null string.
  // The bytes as the kernel shows them: any bytes, UTF-8 or not; a NUL ends
  // them, as it does in sysfs.
  std::optional<std::string> manufacturer, product, serial;
  // Empty: a vendor-page descriptor, 64-byte input, output and feature
  // reports without IDs, or with numbered_reports: ID 1 (8-byte input and
  // output), ID 2 (32-byte input and output), ID 3 (16-byte feature).
  // With raw_descriptor these bytes are the descriptor, even when empty.
  std::vector<std::uint8_t> report_descriptor;
  bool raw_descriptor = false;
  bool echo = false;  // every output report comes back as an input report
  bool numbered_reports = false;
  // false: udev knows no node for the device, and hidapi lists it without a path
  bool device_node = true;
  // of the /dev node; with Testbed::share, 0600 keeps other users out
  unsigned node_mode = 0666;

  // Devices that break the rules. Replaces a sysfs attribute with exactly
  // these bytes (no newline added), or removes it (nullopt). Keys name the
  // level and the attribute: "usb/bcdDevice", "interface/bInterfaceNumber",
  // "hid/report_descriptor" (which then differs from what the node's
  // HIDIOCGRDESC returns), "hidraw/dev".
  std::map<std::string, std::optional<std::string>> attributes;
  // The same for the hid level's uevent properties: HID_ID, HID_NAME,
  // HID_UNIQ (a value with newlines adds lines, as a name does in the kernel).
  std::map<std::string, std::optional<std::string>> hid_uevent;
  // The device dies once a host opens it: the open succeeds, then every
  // ioctl fails with ENODEV and reads with EIO, while the node and the sysfs
  // entries stay, as when it is pulled between open() and the first ioctl.
  bool vanish_on_open = false;
};

class Testbed;

enum class RequestKind { feature, input };
// Answers a get-feature (HIDIOCGFEATURE) or get-input (HIDIOCGINPUT) request
// for a report ID: the report, report ID first, or nullopt to stall it (EPIPE).
// Called on umockdev's thread, which answers nothing else meanwhile.
using Responder = std::function<std::optional<std::vector<std::uint8_t>>(RequestKind, std::uint8_t)>;

class Device {
 public:
  static constexpr int kOk = 0;
  static constexpr int kUnplugged = -1;
  static constexpr int kQueueFull = -2;  // hidraw keeps at most 64 reports

  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  ~Device();

  const std::string& path() const;  // "/dev/hidrawN"

  // Queues an input report as hidraw delivers it: report ID first only for
  // numbered reports. Returns kOk, kUnplugged or kQueueFull.
  int push_input(const std::vector<std::uint8_t>& report);

  // Next output report exactly as passed to write(), report ID first (0 for
  // unnumbered reports). timeout_ms -1 waits forever; nullopt on timeout.
  std::optional<std::vector<std::uint8_t>> pop_output(int timeout_ms);
  std::size_t pending_outputs() const;

  // Feature reports, report ID first: what HIDIOCGFEATURE returns, and the
  // last one the host sent with HIDIOCSFEATURE.
  void set_feature_report(const std::vector<std::uint8_t>& report);
  std::optional<std::vector<std::uint8_t>> feature_report(std::uint8_t report_id) const;

  // What an input report requested with HIDIOCGINPUT returns, report ID first.
  void set_input_report(const std::vector<std::uint8_t>& report);

  // Asks responder instead of the reports set above; an empty one goes back
  // to them.
  void answer_requests(Responder responder);

  // The next feature report the host sent, exactly as sent, report ID first;
  // timeout_ms as for pop_output.
  std::optional<std::vector<std::uint8_t>> pop_feature(int timeout_ms);

  // Unplug: sysfs entries vanish, blocked reads end with EIO, later I/O on
  // open handles fails. Replug: the device comes back at the same path;
  // handles opened before the unplug stay dead.
  void unplug();
  void replug();
  bool plugged() const;

  unsigned long writes() const;  // output reports accepted
  unsigned long reads() const;   // input reports delivered

 private:
  friend class Testbed;
  struct Impl;
  explicit Device(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// One per process at a time (it owns $UMOCKDEV_DIR).
class Testbed {
 public:
  Testbed();  // throws std::runtime_error without the preload
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;
  ~Testbed();

  // The reference stays valid until the device is removed or the Testbed is
  // destroyed.
  Device& add(const DeviceConfig& config);
  // Unplugs the device and frees everything it holds; its path may be given
  // to a later device. Close hidapi's handles on it first.
  void remove(Device& device);
  // umockdev's preload leaks a socket at every failed open() of a /dev path
  // (a device that is gone): this closes such sockets (unix stream sockets
  // never bound, connected nor listening) and returns how many. Call it
  // while no other thread of the process is opening a socket.
  static int close_orphaned_sockets();
  std::size_t device_count() const;
  const std::string& root_dir() const;
  // Lets processes of other users run under this testbed (UMOCKDEV_DIR set
  // to root_dir(), umockdev's preload loaded): its directory becomes
  // readable by all; each node keeps its node_mode.
  void share();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testbed
