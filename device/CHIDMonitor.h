// Hot-plug: a udev monitor of hidraw devices, and an eventfd through which
// another thread wakes a wait on it. It keeps no thread of its own: its
// owner's thread waits in wait().
#pragma once

#include <string>
#include <vector>

struct udev;
struct udev_monitor;

class CHIDMonitor {
public:
    struct Event {
        bool added;
        std::string devnode;  // "" when udev gives none
        int vendor_id = -1;   // from the parent HID device; -1 where unknown (a removed one)
        int product_id = -1;
    };

    CHIDMonitor();
    ~CHIDMonitor();
    CHIDMonitor(const CHIDMonitor &) = delete;
    CHIDMonitor &operator=(const CHIDMonitor &) = delete;

    // False when udev or the eventfd could not be had.
    bool ok() const { return monitor_ != nullptr && wake_fd_ >= 0; }

    // Waits up to timeout_ms (below 0: without limit) for hidraw uevents, then
    // takes every one pending, so that the sender's queue never fills.
    // 1 with events appended (none if they were not hidraw's), 0 when the
    // time ran out, -1 once woken (from then on at once) or on failure.
    int wait(int timeout_ms, std::vector<Event> &events);

    // Ends the current and every later wait; safe from any thread.
    void wake();

private:
    void drain(std::vector<Event> &events);

    struct udev *udev_ = nullptr;
    struct udev_monitor *monitor_ = nullptr;
    int wake_fd_ = -1;
};
