// Opens one HID device twice: through CHIDDevice, then through hidapi's own
// functions, which libportula exports. Usage: portula_example PATH VID:PID
// Writes the report 00 70 6f 72 74 ("port") and prints what each step saw.
#include <CHIDDevice.h>
#include <hidapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

int main(int argc, char **argv) {
    unsigned vid = 0, pid = 0;
    if (argc != 3 || std::sscanf(argv[2], "%x:%x", &vid, &pid) != 2) {
        std::fprintf(stderr, "usage: %s PATH VID:PID\n", argv[0]);
        return 2;
    }
    const char *path = argv[1];
    const unsigned char report[] = {0x00, 'p', 'o', 'r', 't'};

    {
        CHIDDevice device;
        hid_device_info *list = device.enumerate_devices(static_cast<int>(vid), static_cast<int>(pid));
        int found = 0;
        for (hid_device_info *d = list; d; d = d->next) {
            std::printf("CHIDDevice enumerates %s %04hx:%04hx\n", d->path, d->vendor_id, d->product_id);
            found++;
        }
        device.free_enumerations(list);
        if (found == 0 || !device.open_device(path)) {
            std::fprintf(stderr, "CHIDDevice cannot open %s\n", path);
            return 1;
        }
        int written = device.write(report, sizeof report);
        std::printf("CHIDDevice wrote %d bytes\n", written);
        if (written != static_cast<int>(sizeof report)) {
            return 1;
        }
    }  // closes the device and, as the last handle, stops hidapi

    if (hid_init() != 0) {
        std::fprintf(stderr, "hid_init failed\n");
        return 1;
    }
    hid_device *handle = hid_open(static_cast<unsigned short>(vid), static_cast<unsigned short>(pid), nullptr);
    if (!handle) {
        std::fprintf(stderr, "hid_open %04x:%04x failed\n", vid, pid);
        return 1;
    }
    wchar_t product[128] = {};
    if (hid_get_product_string(handle, product, 128) != 0) {
        std::fprintf(stderr, "hid_get_product_string: %ls\n", hid_error(handle));
        hid_close(handle);
        return 1;
    }
    std::printf("hidapi opened %04x:%04x: %ls\n", vid, pid, product);
    int written = hid_write(handle, report, sizeof report);
    std::printf("hidapi wrote %d bytes\n", written);
    hid_close(handle);
    hid_exit();
    return written == static_cast<int>(sizeof report) ? EXIT_SUCCESS : EXIT_FAILURE;
}
