// Emulated hidraw devices: sysfs entries in a umockdev testbed, a FIFO as
// the /dev node (so poll() works) and a umockdev ioctl handler that answers
// the client's read(), write() and ioctl() calls.
#include "hid_testbed.h"

#include "glib_handles.h"
#include "report_descriptors.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <umockdev.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

namespace testbed {
namespace {

using detail::GCharPtr;
using detail::GErrorHolder;
using detail::GObjectPtr;
using detail::UniqueFd;
using Report = std::vector<std::uint8_t>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr int kHidrawMajor = 245;
constexpr std::size_t kInputQueueLimit = 64;    // the kernel's hidraw buffer
constexpr std::size_t kMaxReportSize = 16384;   // HID_MAX_BUFFER_SIZE
constexpr std::size_t kMaxHidNameSize = 127;    // the kernel's hid->name
constexpr std::size_t kMaxHidUniqSize = 63;     // and hid->uniq
constexpr std::size_t kOutputQueueLimit = 100000;

std::atomic<bool> g_testbed_alive{false};

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("testbed: " + what);
}

std::string hex(unsigned value, int width, bool upper = false) {
  char text[16];
  std::snprintf(text, sizeof text, upper ? "%0*X" : "%0*x", width, value);
  return text;
}

// sysfs shows a string up to its first NUL.
std::string up_to_nul(const std::string& text) { return text.substr(0, text.find('\0')); }

// Cuts at most max_bytes without splitting a UTF-8 sequence.
std::string utf8_prefix(const std::string& text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

GQuark generation_quark() {
  static const GQuark quark = g_quark_from_static_string("testbed-generation");
  return quark;
}

GQuark core_quark() {
  static const GQuark quark = g_quark_from_static_string("testbed-core");
  return quark;
}

// The kernel's name for a device: a USB one's joins its manufacturer and
// product (usbhid), another bus's is the device's own name.
std::string kernel_name(const DeviceConfig& cfg) {
  const std::string product = up_to_nul(cfg.product.value_or(""));
  if (cfg.bus != Bus::usb) return utf8_prefix(product, kMaxHidNameSize);
  return utf8_prefix(up_to_nul(cfg.manufacturer.value_or("")) + (cfg.manufacturer && cfg.product ? " " : "") +
                         product,
                     kMaxHidNameSize);
}

// HID_PHYS as each bus's driver sets it.
std::string kernel_phys(const DeviceConfig& cfg, int index) {
  switch (cfg.bus) {
    case Bus::usb:
      return "usb-0000:00:14.0-" + std::to_string(index + 1) + "/input" + std::to_string(cfg.interface_number);
    case Bus::bluetooth:
      return "00:1a:7d:da:71:13";  // the adapter's address
    case Bus::i2c:
      return "i2c-PNP0C50:" + hex(static_cast<unsigned>(index), 2, true);
    case Bus::spi:
      return "spi-PNP0C51:" + hex(static_cast<unsigned>(index), 2, true);
  }
  return "";
}

// Device state shared with umockdev's worker thread. The ioctl handler owns
// a reference, so clients that outlive the Device still find it.
struct Core {
  Core(const DeviceConfig& cfg, int index)
      : config(cfg),
        descriptor(cfg.raw_descriptor || !cfg.report_descriptor.empty() ? cfg.report_descriptor
                   : cfg.numbered_reports ? detail::numbered_descriptor()
                                          : detail::unnumbered_descriptor()),
        path("/dev/hidraw" + std::to_string(index)),
        hid_name(kernel_name(cfg)),
        hid_phys(kernel_phys(cfg, index)) {}

  const DeviceConfig config;
  const Report descriptor;
  const std::string path;
  const std::string hid_name;
  const std::string hid_phys;

  mutable std::mutex mutex;
  std::condition_variable output_ready;
  std::condition_variable feature_ready;
  std::deque<Report> inputs;
  std::deque<Report> outputs;
  std::deque<Report> sent_features;
  Responder responder;  // when set, asked instead of features and requested_inputs
  std::deque<GObjectPtr<UMockdevIoctlClient>> parked_reads;
  std::map<std::uint8_t, Report> features;
  std::map<std::uint8_t, Report> requested_inputs;
  UniqueFd fifo;              // one doorbell byte per queued input report
  unsigned generation = 1;    // bumped by replug; older clients stay dead
  std::condition_variable connected;
  unsigned long connections = 0;
  bool plugged = true;
  unsigned long writes = 0;
  unsigned long reads = 0;
};

// --- called with core.mutex held -------------------------------------------

// Of this plug-in, whether or not the device is still plugged.
bool of_this_plug(const Core& core, UMockdevIoctlClient* client) {
  return GPOINTER_TO_UINT(g_object_get_qdata(G_OBJECT(client), generation_quark())) == core.generation;
}

bool is_current(const Core& core, UMockdevIoctlClient* client) {
  return core.plugged && of_this_plug(core, client);
}

void ring_doorbell(Core& core) {
  const char bell = 'x';
  if (::write(core.fifo.get(), &bell, 1) != 1) {
    // FIFO full or gone: poll() on the client side is already readable
  }
}

void drain_doorbell(Core& core) {
  char bell;
  if (::read(core.fifo.get(), &bell, 1) != 1) {
    // nothing to drain: the report was queued before a replug
  }
}

// hidraw semantics: a short read buffer truncates the report.
void deliver(Core& core, UMockdevIoctlClient* client, const Report& report) {
  UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
  const std::size_t count =
      std::min(static_cast<std::size_t>(std::max(buffer->data_len, 0)), report.size());
  if (count > 0) {  // a zero-length read may come with no buffer at all
    std::memcpy(buffer->data, report.data(), count);
  }
  ++core.reads;
  umockdev_ioctl_client_complete(client, static_cast<glong>(count), 0);
}

int push_locked(Core& core, Report report) {
  if (!core.plugged) return Device::kUnplugged;
  while (!core.parked_reads.empty()) {
    GObjectPtr<UMockdevIoctlClient> reader = std::move(core.parked_reads.front());
    core.parked_reads.pop_front();
    if (umockdev_ioctl_client_get_connected(reader.get())) {
      deliver(core, reader.get(), report);
      return Device::kOk;
    }
  }
  if (core.inputs.size() >= kInputQueueLimit) return Device::kQueueFull;
  core.inputs.push_back(std::move(report));
  ring_doorbell(core);
  return Device::kOk;
}

// Marks the device gone, as hidraw does: a read that waits ends with EIO,
// and reports still queued stay to be read first. Pollers are woken once the
// node is gone too (Device::unplug).
void disconnect_locked(Core& core) {
  core.plugged = false;
  for (auto& reader : core.parked_reads) umockdev_ioctl_client_complete(reader.get(), -1, EIO);
  core.parked_reads.clear();
  core.output_ready.notify_all();
  core.feature_ready.notify_all();
}

// Client memory an ioctl argument points to; written back on completion.
GObjectPtr<UMockdevIoctlData> client_memory(UMockdevIoctlData* arg, std::size_t size) {
  if (size == 0) return nullptr;
  GErrorHolder error;
  return GObjectPtr<UMockdevIoctlData>(umockdev_ioctl_data_resolve(arg, 0, size, error.out()));
}

long copy_string(UMockdevIoctlData* arg, std::size_t size, const std::string& text) {
  auto memory = client_memory(arg, size);
  if (!memory) return -EFAULT;
  const std::size_t count = std::min(text.size() + 1, size);  // like hidraw: no NUL if cut
  std::memcpy(memory->data, text.c_str(), count);
  return static_cast<long>(count);
}

// GET_REPORT: the report whose ID the client's buffer starts with, from the
// responder (asked with the lock released) or the reports set.
long copy_report(Core& core, std::unique_lock<std::mutex>& lock, UMockdevIoctlClient* client,
                 UMockdevIoctlData* arg, std::size_t size, RequestKind kind) {
  auto memory = client_memory(arg, size);
  if (!memory) return -EINVAL;
  const std::uint8_t report_id = memory->data[0];
  std::optional<Report> report;
  if (core.responder) {
    const Responder responder = core.responder;  // may be replaced while it runs
    lock.unlock();
    report = responder(kind, report_id);
    lock.lock();
    if (!is_current(core, client)) return -ENODEV;  // unplugged meanwhile
  } else {
    const auto& reports = kind == RequestKind::feature ? core.features : core.requested_inputs;
    const auto found = reports.find(report_id);
    if (found != reports.end()) report = found->second;
  }
  if (!report || report->empty()) return -EPIPE;  // the device stalls the request
  const std::size_t count = std::min(size, report->size());
  std::memcpy(memory->data, report->data(), count);
  return static_cast<long>(count);
}

long answer_ioctl(Core& core, std::unique_lock<std::mutex>& lock, UMockdevIoctlClient* client,
                  unsigned long request, UMockdevIoctlData* arg) {
  if (_IOC_TYPE(request) != 'H') return -ENOTTY;
  const std::size_t size = _IOC_SIZE(request);
  switch (_IOC_NR(request)) {
    case _IOC_NR(HIDIOCGRDESCSIZE): {
      auto memory = client_memory(arg, sizeof(int));
      if (!memory) return -EFAULT;
      const int descriptor_size = static_cast<int>(core.descriptor.size());
      std::memcpy(memory->data, &descriptor_size, sizeof descriptor_size);
      return 0;
    }
    case _IOC_NR(HIDIOCGRDESC): {
      auto memory = client_memory(arg, sizeof(hidraw_report_descriptor));
      if (!memory) return -EFAULT;
      std::uint32_t wanted = 0;
      std::memcpy(&wanted, memory->data + offsetof(hidraw_report_descriptor, size), sizeof wanted);
      if (wanted > HID_MAX_DESCRIPTOR_SIZE - 1) return -EINVAL;
      std::memcpy(memory->data + offsetof(hidraw_report_descriptor, value), core.descriptor.data(),
                  std::min<std::size_t>(wanted, core.descriptor.size()));
      return 0;
    }
    case _IOC_NR(HIDIOCGRAWINFO): {
      auto memory = client_memory(arg, sizeof(hidraw_devinfo));
      if (!memory) return -EFAULT;
      hidraw_devinfo info{};
      info.bustype = static_cast<__u32>(core.config.bus);
      info.vendor = static_cast<__s16>(core.config.vendor_id);
      info.product = static_cast<__s16>(core.config.product_id);
      std::memcpy(memory->data, &info, sizeof info);
      return 0;
    }
    case _IOC_NR(HIDIOCGRAWNAME(0)):
      return copy_string(arg, size, core.hid_name);
    case _IOC_NR(HIDIOCGRAWPHYS(0)):
      return copy_string(arg, size, core.hid_phys);
    case _IOC_NR(HIDIOCGRAWUNIQ(0)):
      return copy_string(arg, size, core.config.serial.value_or(""));
    case _IOC_NR(HIDIOCSFEATURE(0)): {
      auto memory = client_memory(arg, size);
      if (!memory) return -EINVAL;
      Report report(memory->data, memory->data + size);
      core.features[report[0]] = report;
      if (core.sent_features.size() >= kOutputQueueLimit) core.sent_features.pop_front();
      core.sent_features.push_back(std::move(report));
      core.feature_ready.notify_all();
      return static_cast<long>(size);
    }
    case _IOC_NR(HIDIOCGFEATURE(0)):
      return copy_report(core, lock, client, arg, size, RequestKind::feature);
    case _IOC_NR(HIDIOCGINPUT(0)):
      return copy_report(core, lock, client, arg, size, RequestKind::input);
    default:
      return -ENOTTY;
  }
}

// --- umockdev signal handlers (umockdev's worker thread) ---------------------

void on_client_connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  Core& core = *static_cast<Core*>(data);
  std::lock_guard<std::mutex> lock(core.mutex);
  // generation 0 is never current: a vanishing device's clients are dead at once
  const bool alive = core.plugged && !core.config.vanish_on_open;
  g_object_set_qdata(G_OBJECT(client), generation_quark(),
                     GUINT_TO_POINTER(alive ? core.generation : 0u));
  ++core.connections;
  core.connected.notify_all();
}

gboolean on_read(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  Core& core = *static_cast<Core*>(data);
  std::lock_guard<std::mutex> lock(core.mutex);
  if (!core.inputs.empty() && of_this_plug(core, client)) {  // unplugged too: what was queued comes first
    drain_doorbell(core);
    deliver(core, client, core.inputs.front());
    core.inputs.pop_front();
  } else if (is_current(core, client)) {
    core.parked_reads.push_back(detail::add_ref(client));  // completed by push or unplug
  } else {
    umockdev_ioctl_client_complete(client, -1, EIO);
  }
  return TRUE;
}

gboolean on_write(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  Core& core = *static_cast<Core*>(data);
  UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
  const std::size_t size = static_cast<std::size_t>(std::max(buffer->data_len, 0));
  std::lock_guard<std::mutex> lock(core.mutex);
  if (!is_current(core, client)) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  if (size < 2 || size > kMaxReportSize) {  // the kernel's hidraw checks
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return TRUE;
  }
  Report report(buffer->data, buffer->data + size);
  ++core.writes;
  if (core.config.echo) {
    // the kernel strips report ID 0, so the device never sees it
    push_locked(core, report[0] == 0 ? Report(report.begin() + 1, report.end()) : report);
  }
  if (core.outputs.size() >= kOutputQueueLimit) core.outputs.pop_front();
  core.outputs.push_back(std::move(report));
  core.output_ready.notify_all();
  umockdev_ioctl_client_complete(client, static_cast<glong>(size), 0);
  return TRUE;
}

gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  Core& core = *static_cast<Core*>(data);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  long result;
  {
    std::unique_lock<std::mutex> lock(core.mutex);
    result = is_current(core, client)
                 ? answer_ioctl(core, lock, client, request, umockdev_ioctl_client_get_arg(client))
                 : -ENODEV;
  }
  if (result < 0)
    umockdev_ioctl_client_complete(client, -1, static_cast<gint>(-result));
  else
    umockdev_ioctl_client_complete(client, result, 0);
  return TRUE;
}

// --- sysfs -------------------------------------------------------------------

// NULL-terminated key/value array as umockdev_testbed_add_devicev takes it.
class KeyValueArray {
 public:
  explicit KeyValueArray(const Pairs& pairs) {
    for (const auto& [key, value] : pairs) {
      pointers_.push_back(const_cast<char*>(key.c_str()));
      pointers_.push_back(const_cast<char*>(value.c_str()));
    }
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.data(); }

 private:
  std::vector<char*> pointers_;
};

std::string add_sysfs_device(UMockdevTestbed* bed, const char* subsystem, const std::string& name,
                             const std::string& parent, const Pairs& attributes,
                             const Pairs& properties) {
  KeyValueArray attribute_array(attributes);
  KeyValueArray property_array(properties);
  char* path = umockdev_testbed_add_devicev(bed, subsystem, name.c_str(),
                                            parent.empty() ? nullptr : parent.c_str(),
                                            attribute_array.get(), property_array.get());
  if (!path) fail("cannot create sysfs device " + name);
  return detail::take_string(path);
}

// A level's attributes as DeviceConfig::attributes leaves them: removed ones
// dropped, replaced ones dropped too and returned, to be written as bytes.
Pairs apply_overrides(const DeviceConfig& cfg, const std::string& level, Pairs& attributes) {
  Pairs replaced;
  for (const auto& [key, value] : cfg.attributes) {
    if (key.rfind(level + "/", 0) != 0) continue;
    const std::string name = key.substr(level.size() + 1);
    attributes.erase(std::remove_if(attributes.begin(), attributes.end(),
                                    [&name](const auto& pair) { return pair.first == name; }),
                     attributes.end());
    if (value) replaced.emplace_back(name, *value);
  }
  return replaced;
}

void write_attributes(UMockdevTestbed* bed, const std::string& device, const Pairs& attributes) {
  for (const auto& [name, value] : attributes)
    umockdev_testbed_set_attribute_binary(
        bed, device.c_str(), name.c_str(),
        reinterpret_cast<guint8*>(const_cast<char*>(value.data())), static_cast<gint>(value.size()));
}

Pairs apply_uevent_overrides(const DeviceConfig& cfg, Pairs properties) {
  for (const auto& [key, value] : cfg.hid_uevent) {
    properties.erase(std::remove_if(properties.begin(), properties.end(),
                                    [&key = key](const auto& pair) { return pair.first == key; }),
                     properties.end());
    if (value) properties.emplace_back(key, *value);
  }
  return properties;
}

// GIO ignores SIGPIPE process-wide when its socket class first loads. A host
// with its own handler (the JVM, which checks it) gets that handler back; a
// host with the default keeps GIO's choice. Under the JVM's libjsig, which
// already keeps native code off its handlers, a restore would chain the JVM
// handler to itself.
class SigpipeHandlerKeeper {
 public:
  SigpipeHandlerKeeper()
      : active_(::dlsym(RTLD_DEFAULT, "JVM_get_signal_action") == nullptr) {
    if (active_) sigaction(SIGPIPE, nullptr, &saved_);
  }
  SigpipeHandlerKeeper(const SigpipeHandlerKeeper&) = delete;
  SigpipeHandlerKeeper& operator=(const SigpipeHandlerKeeper&) = delete;
  ~SigpipeHandlerKeeper() {
    const bool host_handler = (saved_.sa_flags & SA_SIGINFO) || saved_.sa_handler != SIG_DFL;
    if (active_ && host_handler) sigaction(SIGPIPE, &saved_, nullptr);
  }

 private:
  bool active_;
  struct sigaction saved_ {};
};

}  // namespace

// --- Device --------------------------------------------------------------------

struct Device::Impl {
  Impl(UMockdevTestbed* testbed, std::string root_dir, int device_index, const DeviceConfig& config)
      : bed(testbed),
        root(std::move(root_dir)),
        index(device_index),
        core(std::make_shared<Core>(config, device_index)) {}

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  ~Impl() {
    {
      std::lock_guard<std::mutex> lock(core->mutex);
      disconnect_locked(*core);
      ring_doorbell(*core);
      core->responder = nullptr;  // the handler keeps the core, not what the responder holds
    }
    detach();  // the sysfs entries go with the testbed's directory
  }

  void start() {
    core->fifo = create_node();
    attach();
    create_sysfs();  // last: whatever hidapi enumerates is openable
  }

  // A fresh handler per plug-in: umockdev stops a detached listener
  // asynchronously, and a reused handler could race with that. Handlers of
  // earlier plug-ins keep serving (and failing) their old clients.
  void attach() {
    handler.reset(umockdev_ioctl_base_new());
    GObject* object = G_OBJECT(handler.get());
    g_object_set_qdata_full(object, core_quark(), new std::shared_ptr<Core>(core),
                            [](gpointer owned) { delete static_cast<std::shared_ptr<Core>*>(owned); });
    g_signal_connect(object, "client-connected", G_CALLBACK(on_client_connected), core.get());
    g_signal_connect(object, "handle-read", G_CALLBACK(on_read), core.get());
    g_signal_connect(object, "handle-write", G_CALLBACK(on_write), core.get());
    g_signal_connect(object, "handle-ioctl", G_CALLBACK(on_ioctl), core.get());
    g_unlink(socket_path().c_str());  // the previous listener's
    GErrorHolder error;
    if (!umockdev_testbed_attach_ioctl(bed, core->path.c_str(), handler.get(), error.out()))
      fail("cannot attach the ioctl handler of " + core->path + ": " + error.message());
    // other users' processes (Testbed::share) meet the node's own mode, not
    // the socket's: the preload must reach it whatever the node lets them do
    ::chmod(socket_path().c_str(), 0666);
    attached = true;
    wait_until_listening();
  }

  // umockdev's worker starts the listener later and looks up its cancel
  // switch by path only then: one detached before it started never stops,
  // and keeps the handler, the Core and its FIFO open for good. A connection
  // of our own is accepted once the listener runs.
  void wait_until_listening() {
    UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path().c_str());
    std::unique_lock<std::mutex> lock(core->mutex);
    const unsigned long before = core->connections;
    lock.unlock();
    if (probe.get() < 0 ||
        ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      fail("cannot reach the ioctl handler of " + core->path + ": " + std::strerror(errno));
    lock.lock();
    if (!core->connected.wait_for(lock, std::chrono::seconds(30),
                                  [&] { return core->connections != before; }))
      fail("the ioctl handler of " + core->path + " does not start");
  }

  // The preload connects to the node's socket even when open() fails, keeps
  // that connection and aborts after 50: an absent node needs an absent
  // socket.
  void detach() {
    if (!attached) return;
    GErrorHolder error;
    umockdev_testbed_detach_ioctl(bed, core->path.c_str(), error.out());
    g_unlink(socket_path().c_str());
    attached = false;
  }

  std::string socket_path() const { return root + "/ioctl" + core->path; }

  // umockdev creates no node for the device: a FIFO gives poll() for free.
  UniqueFd create_node() const {
    const std::string node = root + core->path;
    const std::string dev_dir = root + "/dev";
    if (g_mkdir_with_parents(dev_dir.c_str(), 0755) != 0)
      fail("cannot create " + dev_dir + ": " + std::strerror(errno));
    g_unlink(node.c_str());  // a removed device's, whose path this one reuses
    if (::mkfifo(node.c_str(), 0666) != 0 || ::chmod(node.c_str(), core->config.node_mode) != 0)
      fail("cannot create " + node + ": " + std::strerror(errno));
    UniqueFd fifo(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (fifo.get() < 0) fail("cannot open " + node + ": " + std::strerror(errno));
    return fifo;
  }

  // A USB device and its interface; returns the interface's sysfs path.
  std::string create_usb_levels() {
    const DeviceConfig& cfg = core->config;
    const std::string port = "1-" + std::to_string(index + 1);
    const std::string product_key =
        hex(cfg.vendor_id, 1) + "/" + hex(cfg.product_id, 1) + "/" + hex(cfg.release, 1);
    const std::string devnum = std::to_string(index + 2);

    Pairs usb_attributes = {
        {"idVendor", hex(cfg.vendor_id, 4) + "\n"},
        {"idProduct", hex(cfg.product_id, 4) + "\n"},
        {"bcdDevice", hex(cfg.release, 4) + "\n"},
        {"busnum", "1\n"},
        {"devnum", devnum + "\n"},
        {"bNumInterfaces", " 1\n"},
        {"bConfigurationValue", "1\n"},
        {"speed", "12\n"},
    };
    if (cfg.manufacturer) usb_attributes.emplace_back("manufacturer", up_to_nul(*cfg.manufacturer) + "\n");
    if (cfg.product) usb_attributes.emplace_back("product", up_to_nul(*cfg.product) + "\n");
    if (cfg.serial) usb_attributes.emplace_back("serial", up_to_nul(*cfg.serial) + "\n");
    Pairs replaced = apply_overrides(cfg, "usb", usb_attributes);
    const std::string usb = add_sysfs_device(bed, "usb", "pci0000:00/0000:00:14.0/usb1/" + port, "",
                                             usb_attributes,
                                             {{"DEVTYPE", "usb_device"}, {"PRODUCT", product_key},
                                              {"TYPE", "0/0/0"}, {"BUSNUM", "001"}, {"DEVNUM", devnum}});
    write_attributes(bed, usb, replaced);
    sysfs_parents.push_back(usb);

    Pairs interface_attributes = {
        {"bInterfaceNumber", hex(static_cast<unsigned>(cfg.interface_number), 2) + "\n"},
        {"bInterfaceClass", "03\n"},
        {"bInterfaceSubClass", "00\n"},
        {"bInterfaceProtocol", "00\n"},
        {"bAlternateSetting", " 0\n"},
        {"bNumEndpoints", "02\n"}};
    replaced = apply_overrides(cfg, "interface", interface_attributes);
    const std::string interface = add_sysfs_device(
        bed, "usb", port + ":1.0", usb, interface_attributes,
        {{"DEVTYPE", "usb_interface"}, {"INTERFACE", "3/0/0"}, {"PRODUCT", product_key}});
    write_attributes(bed, interface, replaced);
    sysfs_parents.push_back(interface);
    return interface;
  }

  // The tree hidapi's hidraw back end reads: for USB a usb device, its
  // interface, hid, hidraw; for another bus that bus's device (Bluetooth: the
  // uhid device, shared, left out), hid, hidraw.
  void create_sysfs() {
    const DeviceConfig& cfg = core->config;
    sysfs_parents.clear();
    std::string hid_parent;
    if (cfg.bus == Bus::usb) {
      hid_parent = create_usb_levels();
    } else if (cfg.bus == Bus::i2c || cfg.bus == Bus::spi) {
      // the bus's client device, named as ACPI enumerates it
      const bool i2c = cfg.bus == Bus::i2c;
      const std::string client = (i2c ? "PNP0C50:" : "PNP0C51:") + hex(static_cast<unsigned>(index), 2, true);
      hid_parent = add_sysfs_device(
          bed, i2c ? "i2c" : "spi",
          (i2c ? "pci0000:00/0000:00:15.0/i2c_designware.0/i2c-1/i2c-"
               : "pci0000:00/0000:00:1e.2/pxa2xx-spi.2/spi_master/spi2/spi-") + client,
          "", {{"name", client + "\n"}, {"modalias", "acpi:" + client.substr(0, 7) + ":\n"}},
          {{"DRIVER", i2c ? "i2c_hid_acpi" : "spi_hid"}, {"MODALIAS", "acpi:" + client.substr(0, 7) + ":"}});
      sysfs_parents.push_back(hid_parent);
    }
    const std::string bus = hex(static_cast<unsigned>(cfg.bus), 4, true);

    // hidapi skips a device unless HID_ID, HID_NAME and HID_UNIQ are all
    // there. The kernel's order: lines a name adds come before HID_UNIQ.
    const std::string hid_device = bus + ":" + hex(cfg.vendor_id, 4, true) + ":" +
                                   hex(cfg.product_id, 4, true) + "." + hex(index + 1, 4, true);
    Pairs hid_attributes = {
        {"country", "00\n"},
        {"report_descriptor", std::string(core->descriptor.begin(), core->descriptor.end())}};
    Pairs replaced = apply_overrides(cfg, "hid", hid_attributes);
    // binary: written below with the replaced ones
    for (auto it = hid_attributes.begin(); it != hid_attributes.end(); ++it) {
      if (it->first == "report_descriptor") {
        replaced.push_back(*it);
        hid_attributes.erase(it);
        break;
      }
    }
    sysfs_hid = add_sysfs_device(
        bed, "hid", hid_parent.empty() ? "virtual/misc/uhid/" + hid_device : hid_device, hid_parent,
        hid_attributes,
        apply_uevent_overrides(
            cfg, {{"DRIVER", "hid-generic"},
                  {"HID_ID", bus + ":" + hex(cfg.vendor_id, 8, true) + ":" + hex(cfg.product_id, 8, true)},
                  {"HID_NAME", core->hid_name},
                  {"HID_PHYS", core->hid_phys},
                  {"HID_UNIQ", utf8_prefix(up_to_nul(cfg.serial.value_or("")), kMaxHidUniqSize)},
                  {"MODALIAS", "hid:b" + bus + "g0001v" + hex(cfg.vendor_id, 8, true) + "p" +
                                   hex(cfg.product_id, 8, true)}}));
    write_attributes(bed, sysfs_hid, replaced);

    // Described whole, so that its "add" uevent comes once its device link
    // is there: a watcher that lists it at once finds everything hidapi reads.
    // "dev" without a newline, or remove_device leaves /sys/dev/char behind.
    const std::string minor = std::to_string(index);
    Pairs hidraw_attributes = {{"dev", std::to_string(kHidrawMajor) + ":" + minor}};
    const Pairs replaced_hidraw = apply_overrides(cfg, "hidraw", hidraw_attributes);
    sysfs_hidraw = sysfs_hid + "/hidraw/hidraw" + minor;
    std::string description = "P: " + sysfs_hidraw.substr(std::strlen("/sys")) + "\nE: SUBSYSTEM=hidraw\n";
    if (cfg.device_node) description += "E: DEVNAME=" + core->path + "\n";
    description += "E: MAJOR=" + std::to_string(kHidrawMajor) + "\nE: MINOR=" + minor + "\n";
    for (const auto& [name, value] : hidraw_attributes) description += "A: " + name + "=" + value + "\n";
    for (const auto& [name, value] : replaced_hidraw) {
      description += "H: " + name + "=";
      for (const char c : value) description += hex(static_cast<unsigned char>(c), 2);
      description += "\n";
    }
    description += "L: device=../../../" + hid_device + "\n";
    GErrorHolder error;
    if (!umockdev_testbed_add_from_string(bed, description.c_str(), error.out()))
      fail("cannot create sysfs device hidraw" + minor + ": " + error.message());
  }

  // Children first: remove_device cleans class links and nodes of its own
  // device only.
  void remove_sysfs() {
    umockdev_testbed_uevent(bed, sysfs_hidraw.c_str(), "remove");
    umockdev_testbed_remove_device(bed, sysfs_hidraw.c_str());
    umockdev_testbed_remove_device(bed, sysfs_hid.c_str());
    for (auto parent = sysfs_parents.rbegin(); parent != sysfs_parents.rend(); ++parent)
      umockdev_testbed_remove_device(bed, parent->c_str());
  }

  UMockdevTestbed* const bed;  // the Testbed outlives its devices
  const std::string root;
  const int index;
  const std::shared_ptr<Core> core;
  GObjectPtr<UMockdevIoctlBase> handler;
  bool attached = false;
  std::mutex plug_mutex;  // serialises unplug and replug
  std::vector<std::string> sysfs_parents;  // of the hid level, outermost first
  std::string sysfs_hid, sysfs_hidraw;
};

Device::Device(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Device::~Device() = default;

const std::string& Device::path() const { return impl_->core->path; }

int Device::push_input(const std::vector<std::uint8_t>& report) {
  if (report.empty() || report.size() > kMaxReportSize)
    throw std::invalid_argument("testbed: an input report has 1 to 16384 bytes");
  Core& core = *impl_->core;
  std::lock_guard<std::mutex> lock(core.mutex);
  return push_locked(core, report);
}

std::optional<std::vector<std::uint8_t>> Device::pop_output(int timeout_ms) {
  Core& core = *impl_->core;
  std::unique_lock<std::mutex> lock(core.mutex);
  const auto ready = [&core] { return !core.outputs.empty(); };
  if (timeout_ms < 0)
    core.output_ready.wait(lock, ready);
  else if (!core.output_ready.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
    return std::nullopt;
  Report report = std::move(core.outputs.front());
  core.outputs.pop_front();
  return report;
}

std::size_t Device::pending_outputs() const {
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  return impl_->core->outputs.size();
}

void Device::set_feature_report(const std::vector<std::uint8_t>& report) {
  if (report.empty() || report.size() > kMaxReportSize)
    throw std::invalid_argument("testbed: a feature report has 1 to 16384 bytes");
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  impl_->core->features[report[0]] = report;
}

void Device::set_input_report(const std::vector<std::uint8_t>& report) {
  if (report.empty() || report.size() > kMaxReportSize)
    throw std::invalid_argument("testbed: an input report has 1 to 16384 bytes");
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  impl_->core->requested_inputs[report[0]] = report;
}

void Device::answer_requests(Responder responder) {
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  impl_->core->responder = std::move(responder);
}

std::optional<std::vector<std::uint8_t>> Device::pop_feature(int timeout_ms) {
  Core& core = *impl_->core;
  std::unique_lock<std::mutex> lock(core.mutex);
  const auto ready = [&core] { return !core.sent_features.empty(); };
  if (timeout_ms < 0)
    core.feature_ready.wait(lock, ready);
  else if (!core.feature_ready.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
    return std::nullopt;
  Report report = std::move(core.sent_features.front());
  core.sent_features.pop_front();
  return report;
}

std::optional<std::vector<std::uint8_t>> Device::feature_report(std::uint8_t report_id) const {
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  const auto found = impl_->core->features.find(report_id);
  if (found == impl_->core->features.end()) return std::nullopt;
  return found->second;
}

void Device::unplug() {
  std::lock_guard<std::mutex> plug_lock(impl_->plug_mutex);
  {
    std::lock_guard<std::mutex> lock(impl_->core->mutex);
    if (!impl_->core->plugged) return;
    disconnect_locked(*impl_->core);
  }
  impl_->detach();
  impl_->remove_sysfs();  // and the node, when udev knew it
  // A node left without its socket would make the preload exit the process
  // at the next open() of the path.
  g_unlink((impl_->root + impl_->core->path).c_str());
  // Last: a poller woken now finds the node gone, which the shim's poll
  // reports as hidraw's hang-up.
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  ring_doorbell(*impl_->core);
}

void Device::replug() {
  std::lock_guard<std::mutex> plug_lock(impl_->plug_mutex);
  Core& core = *impl_->core;
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    if (core.plugged) return;
  }
  UniqueFd fifo = impl_->create_node();
  {
    std::lock_guard<std::mutex> lock(core.mutex);
    core.fifo = std::move(fifo);  // old clients keep the old FIFO
    ++core.generation;
    core.inputs.clear();  // the old plug-in's, which its clients may no longer read
    core.plugged = true;
  }
  impl_->attach();
  impl_->create_sysfs();  // with its "add" uevent
}

bool Device::plugged() const {
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  return impl_->core->plugged;
}

unsigned long Device::writes() const {
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  return impl_->core->writes;
}

unsigned long Device::reads() const {
  std::lock_guard<std::mutex> lock(impl_->core->mutex);
  return impl_->core->reads;
}

// --- Testbed -------------------------------------------------------------------

bool preload_active() {
  // Only a preload present at process start takes over libc calls; a
  // dlopen() now would not, so look without loading.
  void* preload = ::dlopen("libumockdev-preload.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (!preload) return false;
  ::dlclose(preload);
  return true;
}

struct Testbed::Impl {
  Impl() {
    if (!preload_active())
      fail("libumockdev-preload.so.0 is not loaded: start the process with "
           "LD_PRELOAD=\"libtestbed_fstat.so libumockdev-preload.so.0\"");
    if (g_testbed_alive.exchange(true)) fail("another Testbed is alive in this process");
    try {
      {
        SigpipeHandlerKeeper keeper;  // a short window: the JVM samples handlers
        g_type_class_unref(g_type_class_ref(G_TYPE_SOCKET));
      }
      // umockdev aborts the process when it cannot make its directory there
      const char* tmp = g_get_tmp_dir();
      if (::access(tmp, W_OK | X_OK) != 0)
        fail(std::string("temporary directory ") + tmp + " cannot be written (" + std::strerror(errno) +
             "): set TMPDIR to a writable directory");
      bed.reset(umockdev_testbed_new());  // sets $UMOCKDEV_DIR
      root = detail::take_string(umockdev_testbed_get_root_dir(bed.get()));
      struct stat sys_root {};
      // the real sysfs root has inode 1
      if (::stat("/sys", &sys_root) != 0 || sys_root.st_ino <= 1)
        fail("/sys is not redirected: libumockdev-preload must be in LD_PRELOAD "
             "when the process starts");
      // the preload would take the emulator's own files for device files
      for (const char* redirected : {"/dev/", "/sys/", "/proc/"})
        if (root.rfind(redirected, 0) == 0)
          fail("testbed directory " + root + " is under " + redirected + ": point TMPDIR elsewhere");
      // libudev resolves links, and umockdev then no longer recognises the paths
      GCharPtr resolved(::realpath(root.c_str(), nullptr));
      if (!resolved || root != resolved.get())
        fail("testbed directory " + root + " goes through a symlink: set TMPDIR to a real path");
      // Unused here, and its presence makes every failed open() of a /dev path
      // cost the preload a connection and one of its 50 fd slots.
      g_unlink((root + "/ioctl/_default").c_str());
      const std::size_t socket_path = root.size() + std::strlen("/ioctl/dev/hidraw99999");
      if (socket_path >= sizeof(sockaddr_un::sun_path))
        fail("testbed directory " + root + " is too long for a unix socket path: shorten TMPDIR");
    } catch (...) {
      bed.reset();
      g_testbed_alive = false;
      throw;
    }
  }

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  ~Impl() {
    while (!devices.empty()) devices.pop_back();
    bed.reset();  // removes the directory, unsets $UMOCKDEV_DIR
    g_testbed_alive = false;
  }

  GObjectPtr<UMockdevTestbed> bed;
  std::string root;
  mutable std::mutex mutex;
  std::vector<std::unique_ptr<Device>> devices;
  int next_index = 0;
  std::set<int> free_indices;  // of removed devices, given out first
};

Testbed::Testbed() : impl_(std::make_unique<Impl>()) {}
Testbed::~Testbed() = default;

Device& Testbed::add(const DeviceConfig& config) {
  if (config.interface_number < 0 || config.interface_number > 255)
    throw std::invalid_argument("testbed: interface_number is 0 to 255");
  if (config.report_descriptor.size() > HID_MAX_DESCRIPTOR_SIZE)
    throw std::invalid_argument("testbed: a report descriptor has at most 4096 bytes");
  std::lock_guard<std::mutex> lock(impl_->mutex);
  // a removed device's index is reused; a failed add's never is
  int index;
  if (!impl_->free_indices.empty()) {
    index = *impl_->free_indices.begin();
    impl_->free_indices.erase(impl_->free_indices.begin());
  } else {
    index = impl_->next_index++;
  }
  auto device_impl = std::make_unique<Device::Impl>(impl_->bed.get(), impl_->root, index, config);
  Device::Impl& started = *device_impl;
  impl_->devices.push_back(std::unique_ptr<Device>(new Device(std::move(device_impl))));
  try {
    started.start();
  } catch (...) {
    impl_->devices.pop_back();
    throw;
  }
  return *impl_->devices.back();
}

void Testbed::remove(Device& device) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  const auto found = std::find_if(impl_->devices.begin(), impl_->devices.end(),
                                  [&device](const auto& owned) { return owned.get() == &device; });
  if (found == impl_->devices.end()) throw std::invalid_argument("testbed: not a device of this testbed");
  device.unplug();
  const int index = device.impl_->index;
  impl_->devices.erase(found);
  impl_->free_indices.insert(index);
}

int Testbed::close_orphaned_sockets() {
  int closed = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return 0;
  std::vector<int> orphans;
  while (const dirent* entry = ::readdir(dir)) {
    const int fd = std::atoi(entry->d_name);
    if (fd <= 2 || fd == ::dirfd(dir)) continue;
    sockaddr_un address{};
    socklen_t length = sizeof address;
    int type = 0, listening = 0;
    socklen_t size = sizeof type;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sun_family != AF_UNIX || length > sizeof(sa_family_t))
      continue;  // not a socket, another family, or bound to a name
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM) continue;
    size = sizeof listening;
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening) continue;
    sockaddr_un peer{};
    socklen_t peer_length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) == 0 || errno != ENOTCONN)
      continue;
    orphans.push_back(fd);
  }
  ::closedir(dir);
  for (int fd : orphans) closed += ::close(fd) == 0 ? 1 : 0;
  return closed;
}

std::size_t Testbed::device_count() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->devices.size();
}

const std::string& Testbed::root_dir() const { return impl_->root; }

void Testbed::share() {
  // mkdtemp made it 0700; below it umockdev's files are readable by all
  if (::chmod(impl_->root.c_str(), 0755) != 0)
    fail("cannot share " + impl_->root + ": " + std::strerror(errno));
}

}  // namespace testbed
