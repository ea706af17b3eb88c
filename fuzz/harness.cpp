// Input layout (missing bytes read as 0, lengths are clamped to what is left):
//   0      shape: 1 manufacturer, 2 product, 4 serial present; 8 no /dev node;
//          0x10 descriptor as given (else the default one), 0x20 numbered
//          default descriptor, 0x40 sysfs strings end in "\r", 0x80 vanish on open
//   1      faults: 1 no bcdDevice, 2 bInterfaceNumber text, 4 no sysfs
//          report_descriptor, 8 another sysfs report_descriptor, 0x10 HID_ID
//          text, 0x20 no HID_UNIQ, 0x40 no HID_NAME; 0x80 open by IDs, not path
//   2..8   vendor, product, release (16 bits each, little-endian), interface
//   9      when: 1 unplug before open, 2 unplug after open, 3 a twin with the
//          same IDs and no node is listed first
//   then   u16-length chunks: manufacturer, product, serial, descriptor, and
//          per fault above the bInterfaceNumber, report_descriptor, HID_ID texts
//   rest   up to 48 operations, one byte each plus arguments (see run_ops)
#include "harness.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "CHIDDevice.h"
#include "hid_testbed.h"
#include "utf16.h"

namespace fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kMaxReport = 16384;
constexpr std::size_t kMaxIoctl = 16383;
constexpr std::size_t kMaxDescriptor = 4096;
constexpr std::size_t kQueue = 64;
constexpr int kMaxOps = 48;

Counters g_counters;

void expect(bool ok, const std::string &what) {
    if (!ok) {
        throw Violation(what);
    }
}

class Reader {
public:
    Reader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    unsigned u16() {
        const unsigned low = byte();
        return low | (static_cast<unsigned>(byte()) << 8);
    }
    std::string chunk(std::size_t limit) {
        const std::size_t n = std::min<std::size_t>({u16(), limit, size_ - std::min(pos_, size_)});
        std::string out(reinterpret_cast<const char *>(data_ + pos_), n);
        pos_ += n;
        return out;
    }
    // length bytes: what is left of the input, then a pattern
    Bytes fill(std::size_t length) {
        Bytes out(length);
        for (std::size_t i = 0; i < length; ++i) {
            out[i] = pos_ < size_ ? data_[pos_++] : static_cast<std::uint8_t>(i * 13 + 7);
        }
        return out;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// glibc's UTF-8 decoder, which hidapi's mbstowcs uses under the UTF-8
// locale CHIDDevice sets: sequences of up to 6 bytes (values to 0x7FFFFFFF),
// no overlong forms, no surrogates. hidapi turns an invalid string into "".
std::wstring decode(const std::string &bytes) {
    std::wstring out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int extra = lead < 0x80 ? 0 : lead < 0xC0 ? -1 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2
                  : lead < 0xF8 ? 3 : lead < 0xFC ? 4 : lead < 0xFE ? 5 : -1;
        if (extra < 0 || i + extra >= bytes.size()) {
            return L"";
        }
        std::uint32_t value = extra == 0 ? lead : lead & (0x3Fu >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return L"";
            }
            value = (value << 6) | (next & 0x3F);
        }
        static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
        if (value < kMin[extra] || (value >= 0xD800 && value <= 0xDFFF)) {
            return L"";
        }
        out += static_cast<wchar_t>(value);
        i += extra + 1;
    }
    return out;
}

std::string up_to_nul(const std::string &s) { return s.substr(0, s.find('\0')); }

// The kernel keeps 63 bytes of a serial number for HID_UNIQ, cut where the
// testbed cuts it: before a byte that does not start a UTF-8 sequence.
std::string uniq(const std::string &serial) {
    std::string s = up_to_nul(serial);
    if (s.size() <= 63) {
        return s;
    }
    std::size_t end = 63;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) {
        --end;
    }
    return s.substr(0, end);
}

// What libudev hands hidapi for an attribute written as text + "\n":
// trailing newlines and carriage returns go.
std::string sysattr(const std::string &text) {
    std::string s = up_to_nul(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) {
        s.pop_back();
    }
    return s;
}

// The bridge hands every name to Java as UTF-16: it must be well-formed.
void expect_java_name(const wchar_t *name) {
    if (name == nullptr) {
        return;
    }
    portula::Utf16 text(name);
    expect(static_cast<bool>(text), "no memory for a name");
    const std::uint16_t *u = text.data();
    std::size_t code_points = 0;
    for (std::size_t i = 0; i < text.size(); ++i, ++code_points) {
        if (u[i] >= 0xD800 && u[i] <= 0xDBFF) {
            expect(i + 1 < text.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF, "lone high surrogate");
            ++i;
        } else {
            expect(u[i] < 0xDC00 || u[i] > 0xDFFF, "lone low surrogate");
        }
    }
    expect(code_points == std::wcslen(name), "a name lost or gained characters");
}

// The count of open descriptors, and what they are.
int open_descriptors(std::string *names = nullptr) {
    int n = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (const dirent *entry = readdir(dir)) {
            ++n;
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (names != nullptr && readlink(link.c_str(), target, sizeof target - 1) > 0) {
                *names += std::string(" ") + entry->d_name + "=" + target;
            }
        }
        closedir(dir);
    }
    return n;
}

testbed::Testbed &bed() {
    static testbed::Testbed *instance = new testbed::Testbed();  // lives as long as the process
    return *instance;
}

// A device that leaves the testbed whatever happens, after the handle on it.
class Emulated {
public:
    explicit Emulated(const testbed::DeviceConfig &config) : device_(&bed().add(config)) { ++g_counters.devices; }
    ~Emulated() { bed().remove(*device_); }
    Emulated(const Emulated &) = delete;
    Emulated &operator=(const Emulated &) = delete;
    testbed::Device &operator*() const { return *device_; }
    testbed::Device *operator->() const { return device_; }

private:
    testbed::Device *device_;
};

struct Expected {
    bool well_formed = false;  // sysfs as the kernel writes it: the record is predictable
    std::wstring manufacturer, product, serial;
    unsigned vendor = 0, product_id = 0;
    bool has_manufacturer = false, has_product = false;
    int release = 0, interface = 0;
};

struct Session {
    CHIDDevice &host;
    testbed::Device &device;
    bool open = false;
    std::deque<Bytes> queued;  // input reports the device holds for the host
    bool node = true;          // udev knows its node
    // what sysfs holds as its report descriptor (nullopt: none), unless it is the emulator's own
    std::optional<std::string> descriptor;
    bool own_descriptor = true;
};

void check_read(Session &s, Reader &in, bool blocking) {
    const std::size_t capacity = 1 + in.u16() % (kMaxReport + 1);
    Bytes buffer(capacity + 1, 0xEE);  // one guard byte past what the call may write
    const bool can_block = blocking && s.open && s.device.plugged() && !s.queued.empty();
    const int n = can_block ? s.host.read(buffer.data(), capacity)
                            : s.host.read_timeout(buffer.data(), capacity, 0);
    expect(buffer[capacity] == 0xEE, "a read wrote past its buffer");
    if (!s.open || !s.device.plugged()) {
        expect(n <= 0, "a read on a dead handle returned data");
        return;
    }
    if (s.queued.empty()) {
        expect(n == 0, "a read returned a report nobody sent");
        return;
    }
    // a short buffer cuts the report: hidraw drops what does not fit
    const Bytes report = std::move(s.queued.front());
    s.queued.pop_front();
    const std::size_t want = std::min(capacity, report.size());
    expect(n == static_cast<int>(want), "a read returned the wrong length");
    expect(std::equal(report.begin(), report.begin() + static_cast<long>(want), buffer.begin()),
           "a read returned other bytes than the device sent");
    ++g_counters.reports_in;
}

void check_write(Session &s, Reader &in) {
    const std::size_t length = in.u16() % (kMaxReport + 2);
    const Bytes report = in.fill(length);
    const int n = s.host.write(report.data(), report.size());
    if (!s.open || !s.device.plugged() || length < 2 || length > kMaxReport) {
        expect(n == -1, "a write the device cannot take succeeded");
        return;
    }
    expect(n == static_cast<int>(length), "a write was cut");
    const auto seen = s.device.pop_output(1000);
    expect(seen && *seen == report, "the device saw other bytes than were written");
    ++g_counters.reports_out;
}

void check_feature(Session &s, Reader &in, bool input_report) {
    // ioctl sizes have 14 bits: 16383 bytes at most
    const std::size_t length = 1 + in.u16() % kMaxIoctl;
    Bytes report = in.fill(length);
    if (input_report) {
        s.device.set_input_report(report);
    } else {
        s.device.set_feature_report(report);
    }
    const std::size_t capacity = 1 + in.u16() % kMaxIoctl;
    Bytes buffer(capacity + 1, 0xEE);
    buffer[0] = report[0];
    const int n = input_report ? s.host.get_input_report(buffer.data(), capacity)
                               : s.host.get_feature_report(buffer.data(), capacity);
    expect(buffer[capacity] == 0xEE, "a get-report wrote past its buffer");
    if (!s.open || !s.device.plugged()) {
        expect(n == -1, "a get-report on a dead handle succeeded");
        return;
    }
    const std::size_t want = std::min(capacity, report.size());
    expect(n == static_cast<int>(want) && std::equal(report.begin(), report.begin() + static_cast<long>(want),
                                                     buffer.begin()),
           "a get-report returned other bytes than the device holds");
    if (!input_report) {
        report[0] ^= 0x5A;  // another report ID, sent by the host
        const int sent = s.host.send_feature_report(report.data(), report.size());
        expect(sent == static_cast<int>(report.size()) && s.device.feature_report(report[0]) == report,
               "a sent feature report did not arrive whole");
    }
}

// The report descriptor, read from sysfs as the library reads it: the bytes
// sysfs holds, up to the kernel's 4096, while the device is there.
void check_descriptor(Session &s) {
    Bytes buffer(kMaxDescriptor + 1, 0xEE);
    const int length = s.host.get_report_descriptor(s.device.path().c_str(), buffer.data(), kMaxDescriptor);
    expect(buffer[kMaxDescriptor] == 0xEE, "the descriptor read wrote past its buffer");
    if (!s.device.plugged() || !s.node) {
        expect(length == -1 && s.host.error_number() == ENODEV, "a descriptor was read without a node");
    } else if (!s.descriptor) {
        expect(length == -1, "a descriptor was read that sysfs does not hold");
    } else if (s.own_descriptor) {
        expect(length > 0, "the emulator's own descriptor was not read");
    } else {
        const std::size_t want = std::min(s.descriptor->size(), kMaxDescriptor);
        expect(length == static_cast<int>(want) && std::equal(buffer.begin(), buffer.begin() + length,
                                                              s.descriptor->begin(),
                                                              [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }),
               "the descriptor read differs from what sysfs holds");
    }
}

void check_strings(Session &s, Reader &in, const hid_device_info *record) {
    const std::size_t max_length = in.byte();
    std::vector<wchar_t> text(max_length + 1, L'\x7F7F');
    using Getter = int (CHIDDevice::*)(wchar_t *, size_t);
    for (Getter get : {&CHIDDevice::get_manufacturer_string, &CHIDDevice::get_product_string,
                       &CHIDDevice::get_serial_number_string}) {
        const int r = (s.host.*get)(text.data(), max_length);
        expect(text[max_length] == L'\x7F7F', "a string getter wrote past its buffer");
        if (r == 0) {
            expect(max_length > 0 && std::wcslen(text.data()) < max_length, "a string lost its terminator");
            expect_java_name(text.data());
        }
    }
    expect(s.host.get_indexed_string(1, text.data(), max_length) == -1, "hidraw has indexed strings now");
    const hid_device_info *info = s.host.get_device_info();
    if (info != nullptr && record != nullptr && s.open) {
        expect(info->vendor_id == record->vendor_id && info->product_id == record->product_id,
               "the open device's record differs from the enumeration's");
        for (const wchar_t *name : {info->manufacturer_string, info->product_string, info->serial_number}) {
            expect_java_name(name);
        }
    }
    expect_java_name(s.host.error());
    check_descriptor(s);
}

// hidraw keeps 64 reports and drops what comes on top.
void check_flood(Session &s, Reader &in) {
    const int count = 1 + in.byte() % 96;
    const std::size_t length = 1 + in.u16() % 512;
    for (int i = 0; i < count; ++i) {
        Bytes report = in.fill(length);
        report[0] = static_cast<std::uint8_t>(i);
        const int r = s.device.push_input(report);
        if (!s.device.plugged()) {
            expect(r == testbed::Device::kUnplugged, "an unplugged device took a report");
        } else if (s.queued.size() >= kQueue) {
            expect(r == testbed::Device::kQueueFull, "more than 64 reports queued");
        } else {
            expect(r == testbed::Device::kOk, "a report was refused below the queue limit");
            s.queued.push_back(std::move(report));
        }
    }
}

void run_ops(Session &s, Reader &in, const hid_device_info *record) {
    for (int op = 0; op < kMaxOps && !in.done(); ++op) {
        switch (in.byte() % 9) {
            case 0: {  // one input report of any length
                Bytes report = in.fill(1 + in.u16() % kMaxReport);
                const int r = s.device.push_input(report);
                if (r == testbed::Device::kOk) {
                    s.queued.push_back(std::move(report));
                }
                break;
            }
            case 1: check_read(s, in, false); break;
            case 2: check_read(s, in, true); break;
            case 3: check_write(s, in); break;
            case 4: check_feature(s, in, false); break;
            case 5: check_feature(s, in, true); break;
            case 6: check_strings(s, in, record); break;
            case 7: check_flood(s, in); break;
            case 8:
                s.device.unplug();
                s.queued.clear();
                break;
        }
    }
}

void check_records(const hid_device_info *list, const testbed::Device &device, const Expected &want,
                   std::size_t descriptor_size, const hid_device_info **first) {
    std::size_t records = 0;
    for (const hid_device_info *r = list; r != nullptr; r = r->next) {
        for (const wchar_t *name : {r->manufacturer_string, r->product_string, r->serial_number}) {
            expect_java_name(name);
        }
        if (r->path == nullptr || device.path() != r->path) {
            continue;
        }
        ++records;
        ++g_counters.records;
        if (*first == nullptr) {
            *first = r;
        }
        if (!want.well_formed) {
            continue;
        }
        expect(r->vendor_id == want.vendor && r->product_id == want.product_id, "IDs differ from HID_ID");
        expect(r->release_number == want.release && r->interface_number == want.interface,
               "release or interface number differs from sysfs");
        expect(want.has_manufacturer ? r->manufacturer_string && want.manufacturer == r->manufacturer_string
                                     : r->manufacturer_string == nullptr,
               "manufacturer differs from sysfs");
        expect(want.has_product ? r->product_string && want.product == r->product_string
                                : r->product_string == nullptr,
               "product differs from sysfs");
        expect(r->serial_number && want.serial == r->serial_number, "serial number differs from HID_UNIQ");
    }
    // every record past the first needs a Usage and a Collection item
    expect(records <= std::max<std::size_t>(1, descriptor_size / 2), "more records than the descriptor can hold");
    if (want.well_formed && device.plugged()) {
        expect(records >= 1, "a well-formed device is missing from the enumeration");
    }
}

void run_input(const std::uint8_t *data, std::size_t size) {
    Reader in(data, size);
    const std::uint8_t shape = in.byte();
    const std::uint8_t faults = in.byte();
    testbed::DeviceConfig config;
    config.vendor_id = static_cast<std::uint16_t>(in.u16());
    config.product_id = static_cast<std::uint16_t>(in.u16());
    config.release = static_cast<std::uint16_t>(in.u16());
    config.interface_number = in.byte();
    const std::uint8_t when = in.byte();
    const std::string cr = (shape & 0x40) ? "\r" : "";
    const std::string manufacturer = in.chunk(4095), product = in.chunk(4095), serial = in.chunk(4095);
    if (shape & 1) config.manufacturer = manufacturer + cr;
    if (shape & 2) config.product = product + cr;
    if (shape & 4) config.serial = serial + cr;
    config.device_node = (shape & 8) == 0;
    const std::string descriptor = in.chunk(kMaxDescriptor);
    config.raw_descriptor = (shape & 0x10) != 0;
    if (config.raw_descriptor) config.report_descriptor.assign(descriptor.begin(), descriptor.end());
    config.numbered_reports = (shape & 0x20) != 0;
    config.vanish_on_open = (shape & 0x80) != 0;
    if (faults & 1) config.attributes["usb/bcdDevice"] = std::nullopt;
    if (faults & 2) config.attributes["interface/bInterfaceNumber"] = in.chunk(64);
    if (faults & 4) config.attributes["hid/report_descriptor"] = std::nullopt;
    if (faults & 8) config.attributes["hid/report_descriptor"] = in.chunk(8192);
    if (faults & 0x10) config.hid_uevent["HID_ID"] = in.chunk(4096);
    if (faults & 0x20) config.hid_uevent["HID_UNIQ"] = std::nullopt;
    if (faults & 0x40) config.hid_uevent["HID_NAME"] = std::nullopt;
    const bool by_ids = (faults & 0x80) != 0;

    // hidapi lists a device as the kernel would show it when nothing above
    // bends its sysfs, and no newline in a name adds uevent lines
    bool newline = false;
    for (const auto &text : {config.manufacturer, config.product, config.serial}) {
        newline = newline || (text && up_to_nul(*text).find('\n') != std::string::npos);
    }
    Expected want;
    want.well_formed = config.device_node && (faults & 0x72) == 0 && !newline;
    want.has_manufacturer = config.manufacturer.has_value();
    want.has_product = config.product.has_value();
    want.manufacturer = decode(sysattr(manufacturer + cr));
    want.product = decode(sysattr(product + cr));
    want.serial = decode(uniq(config.serial.value_or("")));  // HID_UNIQ: the uevent line as is
    want.vendor = config.vendor_id;
    want.product_id = config.product_id;
    want.release = (faults & 1) ? 0 : config.release;
    want.interface = config.interface_number;

    std::optional<Emulated> twin;
    if (when == 3) {
        testbed::DeviceConfig hidden = config;
        hidden.device_node = false;
        twin.emplace(hidden);
    }
    Emulated device(config);
    const auto sysfs_descriptor = config.attributes.find("hid/report_descriptor");
    const std::size_t descriptor_size =
        sysfs_descriptor == config.attributes.end() ? (config.raw_descriptor ? config.report_descriptor.size() : 64)
        : sysfs_descriptor->second ? sysfs_descriptor->second->size() : 0;
    {
        CHIDDevice host;
        hid_device_info *all = host.enumerate_devices(0, 0);
        hid_device_info *mine = host.enumerate_devices(config.vendor_id, config.product_id);
        const hid_device_info *record = nullptr;
        check_records(all, *device, want, descriptor_size, &record);
        const hid_device_info *unused = nullptr;
        check_records(mine, *device, want, descriptor_size, &unused);
        host.free_enumerations(mine);
        if (want.well_formed) {  // another vendor's filter passes it over
            hid_device_info *others = host.enumerate_devices(config.vendor_id ^ 0x8000, 0);
            for (const hid_device_info *r = others; r != nullptr; r = r->next) {
                expect(r->path == nullptr || device->path() != r->path, "a filter let another vendor's device through");
            }
            host.free_enumerations(others);
        }

        if (when == 1) device->unplug();
        Session s{host, *device, false, {}, config.device_node, std::string(), true};
        if (sysfs_descriptor != config.attributes.end()) {
            s.descriptor = sysfs_descriptor->second;
            s.own_descriptor = false;
        } else if (config.raw_descriptor) {
            s.descriptor = std::string(config.report_descriptor.begin(), config.report_descriptor.end());
            s.own_descriptor = false;
        }
        const hid_device *opened = by_ids ? host.open_device(config.vendor_id, config.product_id)
                                          : host.open_device(device->path().c_str());
        s.open = opened != nullptr;
        expect_java_name(host.error());
        if (!device->plugged() || config.vanish_on_open) {
            expect(!s.open, "a device that is gone was opened");
        } else if (want.well_formed && (!by_ids || when != 3)) {
            expect(s.open, "a well-formed device did not open");
        }
        if (s.open) ++g_counters.opens;
        if (when == 2) device->unplug();
        run_ops(s, in, record);
        host.close_device();
        host.free_enumerations(all);
    }
}

}  // namespace

const Counters &counters() { return g_counters; }

void run(const std::uint8_t *data, std::size_t size) {
    bed();
    static const int baseline = open_descriptors();
    ++g_counters.inputs;
    run_input(data, size);
    testbed::Testbed::close_orphaned_sockets();  // the preload's, from opens of a gone device
    // the emulator closes its side asynchronously: allow a few in flight
    if (open_descriptors() > baseline + 8) {
        std::string names;
        open_descriptors(&names);
        expect(false, "file descriptors leak:" + names);
    }
}

}  // namespace fuzz
