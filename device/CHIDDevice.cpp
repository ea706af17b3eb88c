#include "CHIDDevice.h"

int32_t CHIDDevice::ref_counter = 0;

namespace {
// IDs arrive as Java ints; hidapi takes 16 bits.
unsigned short low16(int id) { return static_cast<unsigned short>(id & 0xFFFF); }
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
    device = hid_open_path(path);
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
