#include "CHIDMonitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

CHIDMonitor::CHIDMonitor() : udev_(udev_new()), wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    // "udev": events once udev has made the node and set its permissions
    monitor_ = udev_ != nullptr ? udev_monitor_new_from_netlink(udev_, "udev") : nullptr;
    if (monitor_ != nullptr && (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
                                udev_monitor_enable_receiving(monitor_) < 0)) {
        monitor_ = udev_monitor_unref(monitor_);
    }
}

CHIDMonitor::~CHIDMonitor() {
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    if (udev_ != nullptr) {
        udev_unref(udev_);
    }
    if (wake_fd_ >= 0) {
        ::close(wake_fd_);
    }
}

int CHIDMonitor::wait(int timeout_ms, std::vector<Event> &events) {
    if (!ok()) {
        return -1;
    }
    pollfd fds[2] = {{udev_monitor_get_fd(monitor_), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(fds, 2, timeout_ms < 0 ? -1 : timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) {
        return -1;  // the eventfd stays readable: every later wait ends at once too
    }
    if (ready == 0) {
        return 0;
    }
    drain(events);
    return 1;
}

void CHIDMonitor::drain(std::vector<Event> &events) {
    while (udev_device *device = udev_monitor_receive_device(monitor_)) {
        const char *action = udev_device_get_action(device);
        const bool added = action != nullptr && std::strcmp(action, "add") == 0;
        if (added || (action != nullptr && std::strcmp(action, "remove") == 0)) {
            Event event;
            event.added = added;
            const char *node = udev_device_get_devnode(device);
            event.devnode = node != nullptr ? node : "";
            udev_device *hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
            const char *id = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
            unsigned bus = 0, vendor = 0, product = 0;
            if (id != nullptr && std::sscanf(id, "%x:%x:%x", &bus, &vendor, &product) == 3 && vendor <= 0xFFFF &&
                product <= 0xFFFF) {
                event.vendor_id = static_cast<int>(vendor);
                event.product_id = static_cast<int>(product);
            }
            events.push_back(std::move(event));
        }
        udev_device_unref(device);
    }
}

void CHIDMonitor::wake() {
    const uint64_t one = 1;
    if (::write(wake_fd_, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
        // the counter is already far from 0: the eventfd is readable anyway
    }
}
