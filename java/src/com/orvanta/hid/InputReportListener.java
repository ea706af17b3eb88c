package com.orvanta.hid;

/**
 * Receives a device's input reports, on a thread of the device's own, one
 * report at a time and in the order the device sent them. Set it with
 * {@link HidDevice#setInputReportListener}. An exception it throws goes to
 * that thread's uncaught-exception handler, and the next report still comes.
 * Once the device is closed, or the listener replaced, no call starts; a call
 * under way may finish, for as long as it takes. A call may close its device
 * or set another listener.
 */
@FunctionalInterface
public interface InputReportListener {
    /**
     * @param device the device that sent it
     * @param report the report exactly as received (report ID first where the device numbers its
     *     reports); a new array, the listener's to keep
     */
    void inputReport(HidDevice device, byte[] report);

    /** The device was unplugged; no report follows. The device stays open until closed. */
    default void removed(HidDevice device) {
    }

    /** Reading failed for another reason; no report follows. */
    default void failed(HidDevice device, HidException failure) {
    }
}
