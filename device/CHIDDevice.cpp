#include "CHIDDevice.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <locale.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

int32_t CHIDDevice::ref_counter = 0;

namespace {
// IDs arrive as Java ints; hidapi takes 16 bits.
unsigned short low16(int id) { return static_cast<unsigned short>(id & 0xFFFF); }

// hidapi 0.13 frees its device twice when a path opens but is no hidraw node
// (/dev/null, a regular file): its HIDIOCGRDESCSIZE probe fails. Such paths
// are turned away here with the same probe. Paths that do not open at all are
// left to hidapi, which fails on them cleanly.
// A path that does not open leaves its errno in *open_errno: hidapi's own
// failure text, decoded after its open, may overwrite errno.
bool refused_by_hidraw(const char *path, int *open_errno) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *open_errno = errno;
        return false;
    }
    int size = 0;
    const bool refused = ::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0;
    ::close(fd);
    return refused;
}

// The text of a failure CHIDDevice decided itself: hidapi keeps none for it.
thread_local const wchar_t *t_error = nullptr;

// The eventfd that hidapi's poll in read_timeout also waits on (see
// __wrap_poll), and whether it ended the wait.
thread_local int t_wake_fd = -1;
thread_local bool t_woken = false;

// One wait of a read without limit: with a wake, nothing needs to look
// sooner; without one, a second bounds how long a close waits.
constexpr int kLongWaitMs = 60 * 60 * 1000;
constexpr int kUnwakeableWaitMs = 1000;

// N of a path ".../hidrawN", or -1.
int hidraw_index_of(const char *path) {
    const char *name = std::strrchr(path, '/');
    name = name != nullptr ? name + 1 : path;
    if (std::strncmp(name, "hidraw", 6) != 0 || name[6] < '0' || name[6] > '9') {
        return -1;
    }
    char *end = nullptr;
    const long index = std::strtol(name + 6, &end, 10);
    return *end == 0 && index < 1000000 ? static_cast<int>(index) : -1;
}

// The device number of the node at path, 0 if it is no character device.
unsigned long long node_number(const char *path) {
    struct stat node {};
    return ::stat(path, &node) == 0 && S_ISCHR(node.st_mode) ? static_cast<unsigned long long>(node.st_rdev) : 0;
}

// What a sysfs entry says of its node: its device number ("MAJ:MIN" in its
// dev attribute) and the device it belongs to (the entry's real path, which
// names the hid device and its instance). Empty when the entry is gone.
std::string sysfs_identity(const std::string &entry) {
    char dev[32] = {};
    const int fd = ::open((entry + "/dev").c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t length = fd >= 0 ? ::read(fd, dev, sizeof dev - 1) : -1;
    if (fd >= 0) {
        ::close(fd);
    }
    unsigned major_number = 0, minor_number = 0;
    char *real = length > 0 && std::sscanf(dev, "%u:%u", &major_number, &minor_number) == 2
                     ? ::realpath(entry.c_str(), nullptr)
                     : nullptr;
    if (real == nullptr) {
        return "";
    }
    std::string identity = std::to_string(makedev(major_number, minor_number)) + " " + real;
    std::free(real);
    return identity;
}

// A poll on a pipe that never becomes readable, with a wake already sent,
// must end at once: else (a sandbox without eventfd, an emulator whose poll
// misses it) reads wait in slices.
bool probe_wake() {
    int never[2];
    if (::pipe2(never, O_CLOEXEC) != 0) {
        return false;
    }
    bool works = false;
    const int wake = ::eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake >= 0) {
        pollfd fd = {never[0], POLLIN, 0};
        t_wake_fd = wake;
        t_woken = false;
        const auto start = std::chrono::steady_clock::now();
        const int ready = ::poll(&fd, 1, 1000);
        works = ready == 0 && t_woken && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(100);
        t_wake_fd = -1;
        t_woken = false;
        ::close(wake);
    }
    ::close(never[0]);
    ::close(never[1]);
    return works;
}

// hidapi 0.13 strdup()s every HID_NAME and HID_UNIQ line of a hid device's
// uevent and loses all but the last. The kernel writes the device's own
// strings there unfiltered, so a name with newlines ("x\nHID_UNIQ=y") adds
// lines: each enumeration leaked them. hidapi reads the uevent through
// udev_device_get_sysattr_value, wrapped at link time (device/CMakeLists.txt)
// so that it sees only the last line of each: what it kept anyway.
void without_repeated_names(const char *uevent, char *out, size_t size) {
    const char *last_name = nullptr;
    const char *last_uniq = nullptr;
    for (const char *line = uevent; *line != 0;) {
        if (std::strncmp(line, "HID_NAME=", 9) == 0) last_name = line;
        if (std::strncmp(line, "HID_UNIQ=", 9) == 0) last_uniq = line;
        const char *end = std::strchr(line, '\n');
        line = end != nullptr ? end + 1 : line + std::strlen(line);
    }
    size_t used = 0;
    for (const char *line = uevent; *line != 0;) {
        const char *end = std::strchr(line, '\n');
        const char *next = end != nullptr ? end + 1 : line + std::strlen(line);
        const bool repeated = (std::strncmp(line, "HID_NAME=", 9) == 0 && line != last_name) ||
                              (std::strncmp(line, "HID_UNIQ=", 9) == 0 && line != last_uniq);
        const size_t length = static_cast<size_t>(next - line);
        if (!repeated && used + length < size) {
            std::memcpy(out + used, line, length);
            used += length;
        }
        line = next;
    }
    out[used] = 0;
}

// hidapi decodes sysfs strings (and its error texts) with mbstowcs in the
// calling thread's locale: under a C locale, as in a service or a container,
// every non-ASCII name would come back empty. Each such call runs under a
// UTF-8 locale of this thread's own, with the C locale's messages; where no
// UTF-8 locale can be had the process's locale stays.
class Utf8Decoding {
public:
    Utf8Decoding() : previous_(utf8() != nullptr ? uselocale(utf8()) : nullptr) {}
    ~Utf8Decoding() {
        if (previous_ != nullptr) {
            uselocale(previous_);
        }
    }
    Utf8Decoding(const Utf8Decoding &) = delete;
    Utf8Decoding &operator=(const Utf8Decoding &) = delete;

private:
    static locale_t utf8() {
        static const locale_t locale = [] {
            for (const char *name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
                if (const locale_t found = newlocale(LC_CTYPE_MASK, name, nullptr)) {
                    return found;
                }
            }
            return locale_t{nullptr};
        }();
        return locale;
    }
    locale_t previous_;
};
}  // namespace

CHIDDevice::CHIDDevice()
    : device(nullptr), wake_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), last_errno(0), hidraw_index(-1) {
    if (ref_counter == 0) {
        // A failure is retried by hidapi itself at the next enumerate or open.
        (void)hid_init();
    }
    ++ref_counter;
}

CHIDDevice::~CHIDDevice() {
    close_device();
    if (wake_fd >= 0) {
        ::close(wake_fd);
    }
    if (--ref_counter == 0) {
        hid_exit();
    }
}

hid_device *CHIDDevice::open_device(int vendor_id, int product_id) {
    close_device();
    Utf8Decoding utf8;
    t_error = nullptr;
    // Not hid_open: it opens its pick with a bare hid_open_path, whose
    // failed HIDIOCGRDESCSIZE frees the device twice (see refused_by_hidraw),
    // and a device that dies between open() and that ioctl fails it. The pick
    // goes through the probe here. It is hid_open's own: the first record with
    // both IDs, except that records without a node are passed over, where
    // hid_open would give up.
    hid_device_info *list = enumerate_devices(vendor_id, product_id);
    const hid_device_info *pick = list;
    while (pick != nullptr && (pick->vendor_id != low16(vendor_id) || pick->product_id != low16(product_id) ||
                               pick->path == nullptr)) {
        pick = pick->next;
    }
    if (pick != nullptr) {
        open_device(pick->path);
    } else {
        t_error = L"Device with requested VID/PID not found";
        last_errno = ENOENT;
    }
    hid_free_enumeration(list);
    return device;
}

hid_device *CHIDDevice::open_device(const char *path) {
    close_device();
    Utf8Decoding utf8;
    int open_errno = 0;
    t_error = refused_by_hidraw(path, &open_errno) ? L"not a hidraw device" : nullptr;
    errno = 0;
    device = t_error != nullptr ? nullptr : hid_open_path(path);
    last_errno = device != nullptr ? 0 : t_error != nullptr ? ENODEV : open_errno != 0 ? open_errno : errno;
    hidraw_index = device != nullptr ? hidraw_index_of(path) : -1;
    return device;
}

void CHIDDevice::close_device() {
    if (device != nullptr) {
        hid_close(device);
        device = nullptr;
    }
}

int CHIDDevice::write(const unsigned char *data, size_t length) {
    if (device == nullptr) {
        return -1;
    }
    Utf8Decoding utf8;
    errno = 0;
    return noted(hid_write(device, data, length));
}

int CHIDDevice::read(unsigned char *data, size_t length) {
    if (device == nullptr) {
        return -1;
    }
    errno = 0;
    return noted(hid_read(device, data, length));
}

int CHIDDevice::getRefCount() { return ref_counter; }

hid_device_info *CHIDDevice::enumerate_devices(int vendor_id, int product_id) {
    Utf8Decoding utf8;
    t_error = nullptr;
    // Filtered, hidapi first reads each device's uevent into 1024 bytes and
    // writes its terminator one past them when the uevent fills them. The
    // filter is applied here instead, to the records hidapi made of every
    // device: the same IDs, read by the unfiltered parser, which is bounded.
    hid_device_info *list = hid_enumerate(0, 0);
    const unsigned short vid = low16(vendor_id), pid = low16(product_id);
    if (vid == 0 && pid == 0) {
        return list;
    }
    hid_device_info **link = &list;
    while (hid_device_info *d = *link) {
        if ((vid == 0 || d->vendor_id == vid) && (pid == 0 || d->product_id == pid)) {
            link = &d->next;
        } else {
            *link = d->next;
            d->next = nullptr;
            hid_free_enumeration(d);
        }
    }
    if (list == nullptr) {
        t_error = L"No HID devices with requested VID/PID found in the system.";
    }
    return list;
}

void CHIDDevice::free_enumerations(hid_device_info *list) {
    hid_free_enumeration(list);
}

// Always through poll, where a wake reaches it: hidapi's wait without limit
// blocks in read(), which nothing but a report or an unplug ends.
int CHIDDevice::read_timeout(unsigned char *data, size_t length, int milliseconds) {
    if (device == nullptr) {
        return -1;
    }
    Utf8Decoding utf8;
    // before t_wake_fd is set: the first call of wakeable() runs the probe, which uses it
    const int wait = milliseconds >= 0 ? milliseconds : wakeable() ? kLongWaitMs : kUnwakeableWaitMs;
    t_wake_fd = wake_fd;
    t_woken = false;
    int received;
    do {
        errno = 0;
        received = noted(hid_read_timeout(device, data, length, wait));
    } while (received == 0 && milliseconds < 0 && !t_woken);
    t_wake_fd = -1;
    return received;
}

int CHIDDevice::send_feature_report(const unsigned char *data, size_t length) {
    Utf8Decoding utf8;
    errno = 0;
    return device == nullptr ? -1 : noted(hid_send_feature_report(device, data, length));
}

int CHIDDevice::get_feature_report(unsigned char *data, size_t length) {
    Utf8Decoding utf8;
    errno = 0;
    return device == nullptr ? -1 : noted(hid_get_feature_report(device, data, length));
}

int CHIDDevice::get_input_report(unsigned char *data, size_t length) {
    Utf8Decoding utf8;
    errno = 0;
    return device == nullptr ? -1 : noted(hid_get_input_report(device, data, length));
}

int CHIDDevice::get_manufacturer_string(wchar_t *text, size_t max_length) {
    Utf8Decoding utf8;
    return device == nullptr ? -1 : hid_get_manufacturer_string(device, text, max_length);
}

int CHIDDevice::get_product_string(wchar_t *text, size_t max_length) {
    Utf8Decoding utf8;
    return device == nullptr ? -1 : hid_get_product_string(device, text, max_length);
}

int CHIDDevice::get_serial_number_string(wchar_t *text, size_t max_length) {
    Utf8Decoding utf8;
    return device == nullptr ? -1 : hid_get_serial_number_string(device, text, max_length);
}

int CHIDDevice::get_indexed_string(int index, wchar_t *text, size_t max_length) {
    Utf8Decoding utf8;
    errno = 0;
    return device == nullptr ? -1 : noted(hid_get_indexed_string(device, index, text, max_length));
}

hid_device_info *CHIDDevice::get_device_info() {
    Utf8Decoding utf8;
    return device == nullptr ? nullptr : hid_get_device_info(device);
}

const wchar_t *CHIDDevice::error() {
    if (device != nullptr) {
        return hid_error(device);
    }
    return t_error != nullptr ? t_error : hid_error(nullptr);
}

int CHIDDevice::get_report_descriptor(const char *path, unsigned char *out, size_t size) {
    const int index = hidraw_index_of(path);
    const std::string entry = "/sys/class/hidraw/hidraw" + std::to_string(index);
    const std::string before = index >= 0 ? sysfs_identity(entry) : "";
    // the node is the entry's, and both are the same device after the read
    const unsigned long long number = node_number(path);
    if (before.empty() || number == 0 || before.compare(0, before.find(' '), std::to_string(number)) != 0) {
        last_errno = ENODEV;
        return -1;
    }
    const int fd = ::open((entry + "/device/report_descriptor").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        last_errno = errno;
        return -1;
    }
    size_t length = 0;
    ssize_t got = 0;
    while (length < size && (got = ::read(fd, out + length, size - length)) > 0) {
        length += static_cast<size_t>(got);
    }
    last_errno = got < 0 ? errno : 0;
    ::close(fd);
    if (last_errno == 0 && (node_number(path) != number || sysfs_identity(entry) != before)) {
        last_errno = ENODEV;
    }
    return last_errno == 0 ? static_cast<int>(length) : -1;
}

int CHIDDevice::get_raw_info(const char *path, char *name, size_t name_size, char *phys, size_t phys_size,
                             int *bus, int *vendor_id, int *product_id) {
    // read-only is all these ioctls need; O_NONBLOCK keeps a FIFO's open from waiting for a writer
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        last_errno = errno;
        return -1;
    }
    std::memset(name, 0, name_size);
    std::memset(phys, 0, phys_size);
    hidraw_devinfo info{};
    // the kernel writes no NUL where it cuts a string: one byte less keeps the last 0
    const bool asked = ::ioctl(fd, HIDIOCGRAWINFO, &info) >= 0 &&
                       ::ioctl(fd, HIDIOCGRAWNAME(name_size - 1), name) >= 0 &&
                       ::ioctl(fd, HIDIOCGRAWPHYS(phys_size - 1), phys) >= 0;
    last_errno = asked ? 0 : errno;
    ::close(fd);
    if (!asked) {
        return -1;
    }
    *bus = static_cast<int>(info.bustype);
    *vendor_id = info.vendor & 0xFFFF;
    *product_id = info.product & 0xFFFF;
    return 0;
}

int CHIDDevice::error_number() { return last_errno; }

// Takes errno right after a hidapi call. A USB error of a device being pulled
// reads as gone once its sysfs entry is.
int CHIDDevice::noted(int result) {
    last_errno = result < 0 ? errno : 0;
    if ((last_errno == EIO || last_errno == EPROTO || last_errno == ESHUTDOWN) && hidraw_index >= 0) {
        char entry[48];
        std::snprintf(entry, sizeof entry, "/sys/class/hidraw/hidraw%d", hidraw_index);
        if (::access(entry, F_OK) != 0 && errno == ENOENT) {
            last_errno = ENODEV;
        }
    }
    return result;
}

void CHIDDevice::wake() {
    const uint64_t one = 1;
    if (wake_fd >= 0 && ::write(wake_fd, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
        // the counter is already far from 0: the eventfd is readable anyway
    }
}

bool CHIDDevice::wakeable() {
    static const bool works = probe_wake();
    return wake_fd >= 0 && works;
}

extern "C" {
const char *__real_udev_device_get_sysattr_value(struct udev_device *device, const char *name);
int __real_poll(struct pollfd *fds, nfds_t count, int timeout);

// hidapi's poll in read_timeout (device/CMakeLists.txt wraps it at link
// time) also waits on the object's eventfd: a wake ends it as a timeout
// would, and so does a signal, since hidapi takes EINTR for a failure.
__attribute__((visibility("hidden"))) int __wrap_poll(struct pollfd *fds, nfds_t count, int timeout) {
    const int wake = t_wake_fd;
    if (wake < 0 || count != 1) {
        return __real_poll(fds, count, timeout);
    }
    pollfd both[2] = {fds[0], {wake, POLLIN, 0}};
    const int ready = __real_poll(both, 2, timeout);
    if (ready < 0) {
        return errno == EINTR ? 0 : ready;
    }
    if ((both[1].revents & POLLIN) != 0) {
        uint64_t wakes;
        if (::read(wake, &wakes, sizeof wakes) == static_cast<ssize_t>(sizeof wakes)) {
            t_woken = true;
        }
    }
    fds[0].revents = both[0].revents;
    return fds[0].revents != 0 ? 1 : 0;
}

// Every sysfs attribute hidapi reads comes through here (see
// without_repeated_names). A uevent that is gone (the device left between
// udev's look-up and this read) becomes "": hidapi would strlen() the null.
__attribute__((visibility("hidden"))) const char *
__wrap_udev_device_get_sysattr_value(struct udev_device *device, const char *name) {
    const char *value = __real_udev_device_get_sysattr_value(device, name);
    if (name == nullptr || std::strcmp(name, "uevent") != 0) {
        return value;
    }
    if (value == nullptr) {
        return "";
    }
    // hidapi copies it before the next call; libudev reads at most a page
    thread_local char kept[4096];
    without_repeated_names(value, kept, sizeof kept);
    return kept;
}
}
