#include "CHIDDevice.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

int32_t CHIDDevice::ref_counter = 0;

namespace {
// IDs arrive as Java ints; hidapi takes 16 bits.
unsigned short low16(int id) { return static_cast<unsigned short>(id & 0xFFFF); }

// hidapi 0.13 frees its device twice when a path opens but is no hidraw node
// (/dev/null, a regular file): its HIDIOCGRDESCSIZE probe fails. Such paths
// are turned away here with the same probe. Paths that do not open at all are
// left to hidapi, which fails on them cleanly.
bool refused_by_hidraw(const char *path) {
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int size = 0;
    const bool refused = ::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0;
    ::close(fd);
    return refused;
}
}  // namespace

CHIDDevice::CHIDDevice() : device(nullptr) {
    if (ref_counter == 0) {
        // A failure is retried by hidapi itself at the next enumerate or open.
        (void)hid_init();
    }
    ++ref_counter;
}

CHIDDevice::~CHIDDevice() {
    close_device();
    if (--ref_counter == 0) {
        hid_exit();
    }
}

hid_device *CHIDDevice::open_device(int vendor_id, int product_id) {
    close_device();
    device = hid_open(low16(vendor_id), low16(product_id), nullptr);
    return device;
}

hid_device *CHIDDevice::open_device(const char *path) {
    close_device();
    device = refused_by_hidraw(path) ? nullptr : hid_open_path(path);
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
    return hid_write(device, data, length);
}

int CHIDDevice::read(unsigned char *data, size_t length) {
    if (device == nullptr) {
        return -1;
    }
    return hid_read(device, data, length);
}

int CHIDDevice::getRefCount() { return ref_counter; }

hid_device_info *CHIDDevice::enumerate_devices(int vendor_id, int product_id) {
    return hid_enumerate(low16(vendor_id), low16(product_id));
}

void CHIDDevice::free_enumerations(hid_device_info *list) {
    hid_free_enumeration(list);
}
