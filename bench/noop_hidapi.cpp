// hidapi's transfer calls as no-ops, linked over the real ones (--wrap), so
// that a benchmark sees what the bridge itself costs. They are exported as
// hid_write/hid_read too, so that JNA calls the very same code.
#include <cstring>

#include <hidapi.h>

extern "C" {
int __wrap_hid_write(hid_device *, const unsigned char *, size_t length) {
    return static_cast<int>(length);
}

int __wrap_hid_read(hid_device *, unsigned char *data, size_t length) {
    std::memset(data, 0x5a, length);
    return static_cast<int>(length);
}

int __wrap_hid_read_timeout(hid_device *, unsigned char *data, size_t length, int) {
    std::memset(data, 0x5a, length);
    return static_cast<int>(length);
}

__attribute__((visibility("default"), alias("__wrap_hid_write"))) int hid_write(
    hid_device *, const unsigned char *, size_t);
__attribute__((visibility("default"), alias("__wrap_hid_read"))) int hid_read(hid_device *,
                                                                             unsigned char *,
                                                                             size_t);
__attribute__((visibility("default"), alias("__wrap_hid_read_timeout"))) int hid_read_timeout(
    hid_device *, unsigned char *, size_t, int);
}
