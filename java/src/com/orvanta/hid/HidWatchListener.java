package com.orvanta.hid;

/**
 * Hears HID devices come and go, from {@link Hid#watch}. Calls come on the
 * watch's own thread, one at a time; for each device they come in order: an
 * attach, then its detach, never two attaches without a detach between. A
 * device that leaves before the watch could list it is told neither way. An
 * exception thrown here goes to that thread's uncaught-exception handler, and
 * the watch goes on.
 */
public interface HidWatchListener {
    /** A device came, as {@link Hid#devices()} lists it (once per record it lists). */
    void attached(HidDeviceInfo device);

    /** A device went: the record it was attached with. */
    void detached(HidDeviceInfo device);
}
