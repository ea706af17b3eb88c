#include "CHIDDevice.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <initializer_list>

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

// hidapi keeps no text for a path that open_device turned away itself.
thread_local bool t_refused = false;

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
    Utf8Decoding utf8;
    t_refused = false;
    device = hid_open(low16(vendor_id), low16(product_id), nullptr);
    return device;
}

hid_device *CHIDDevice::open_device(const char *path) {
    close_device();
    Utf8Decoding utf8;
    t_refused = refused_by_hidraw(path);
    device = t_refused ? nullptr : hid_open_path(path);
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
    Utf8Decoding utf8;
    t_refused = false;
    return hid_enumerate(low16(vendor_id), low16(product_id));
}

void CHIDDevice::free_enumerations(hid_device_info *list) {
    hid_free_enumeration(list);
}

int CHIDDevice::read_timeout(unsigned char *data, size_t length, int milliseconds) {
    return device == nullptr ? -1 : hid_read_timeout(device, data, length, milliseconds);
}

int CHIDDevice::send_feature_report(const unsigned char *data, size_t length) {
    Utf8Decoding utf8;
    return device == nullptr ? -1 : hid_send_feature_report(device, data, length);
}

int CHIDDevice::get_feature_report(unsigned char *data, size_t length) {
    Utf8Decoding utf8;
    return device == nullptr ? -1 : hid_get_feature_report(device, data, length);
}

int CHIDDevice::get_input_report(unsigned char *data, size_t length) {
    Utf8Decoding utf8;
    return device == nullptr ? -1 : hid_get_input_report(device, data, length);
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
    return device == nullptr ? -1 : hid_get_indexed_string(device, index, text, max_length);
}

hid_device_info *CHIDDevice::get_device_info() {
    Utf8Decoding utf8;
    return device == nullptr ? nullptr : hid_get_device_info(device);
}

const wchar_t *CHIDDevice::error() {
    if (device != nullptr) {
        return hid_error(device);
    }
    return t_refused ? L"not a hidraw device" : hid_error(nullptr);
}
