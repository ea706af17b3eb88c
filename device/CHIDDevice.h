// One device handle: owns at most one open hidapi device, and through a count
// of live objects keeps hidapi initialised while any handle exists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

#include <hidapi.h>

#define PORTULA_API __attribute__((visibility("default")))

class PORTULA_API CHIDDevice {
public:
    CHIDDevice();
    ~CHIDDevice();
    CHIDDevice(const CHIDDevice &) = delete;  // owns a hidapi device and an eventfd
    CHIDDevice &operator=(const CHIDDevice &) = delete;

    // Both overloads close the current device first, so a failed open leaves
    // the object closed. They return the new device or null.
    hid_device *open_device(int vendor_id, int product_id);
    hid_device *open_device(const char *path);
    void close_device();

    // -1 when no device is open, else hidapi's result.
    int write(const unsigned char *data, size_t length);
    int read(unsigned char *data, size_t length);

    int getRefCount();

    // The caller owns the list and frees it with free_enumerations.
    hid_device_info *enumerate_devices(int vendor_id, int product_id);
    void free_enumerations(hid_device_info *list);

    // What hidapi offers beyond the calls above; -1 (or null) when no device
    // is open, else hidapi's result. A read that times out, or that wake()
    // ended, returns 0; a timeout below 0 waits until a report comes, the
    // read fails or wake() is called.
    int read_timeout(unsigned char *data, size_t length, int milliseconds);
    int send_feature_report(const unsigned char *data, size_t length);
    int get_feature_report(unsigned char *data, size_t length);
    int get_input_report(unsigned char *data, size_t length);
    int get_manufacturer_string(wchar_t *text, size_t max_length);
    int get_product_string(wchar_t *text, size_t max_length);
    int get_serial_number_string(wchar_t *text, size_t max_length);
    int get_indexed_string(int index, wchar_t *text, size_t max_length);
    // The open device's own record, owned by hidapi until the device closes.
    hid_device_info *get_device_info();
    // hidapi's text for the last failure: of the open device, else of the
    // last open or enumeration. Valid until the next call on this object.
    const wchar_t *error();
    // The report descriptor of the hidraw node at path, as the kernel keeps
    // it in sysfs (after any driver fix-up; no access to the node needed):
    // up to size bytes into out. Its length (0 to 4096), or -1 with
    // error_number() set: ENODEV when the node or its sysfs entry is gone,
    // not hidraw's, or passed to another device while it was read.
    int get_report_descriptor(const char *path, unsigned char *out, size_t size);
    // What the kernel says of the hidraw node at path, asked of the node
    // itself (hidapi keeps its own descriptor to itself): its HID name and
    // physical path, NUL-terminated and cut to fit name_size and phys_size
    // (2 or more bytes each), its bus number (the kernel's: 3 USB, 5
    // Bluetooth) and IDs. 0, or -1 with error_number() set: ENOENT without
    // a node, EACCES, ENOTTY when it is no hidraw node, ENODEV when gone.
    int get_raw_info(const char *path, char *name, size_t name_size, char *phys, size_t phys_size, int *bus,
                     int *vendor_id, int *product_id);
    // The system's error number (errno) behind the last failed call on this
    // object, 0 where hidapi saw the failure itself (a poll hang-up). EIO,
    // EPROTO and ESHUTDOWN of a device whose sysfs entry is gone read ENODEV.
    int error_number();

    // Ends the read_timeout under way on this object as if its time ran
    // out, or the next one if none is. Safe from any thread while the
    // object lives.
    void wake();
    // Whether wake() ends a waiting read of this object: it has its
    // eventfd, and a probe (once per process) saw poll wake on one here.
    bool wakeable();

private:
    int noted(int result);

    hid_device *device;
    int wake_fd;            // an eventfd that read_timeout's poll also waits on
    int last_errno;
    int hidraw_index;       // N of the open /dev/hidrawN, -1 if the path names none
    // Live objects in the process; not atomic: handles are created and
    // destroyed on one thread at a time.
    static int32_t ref_counter;
};
