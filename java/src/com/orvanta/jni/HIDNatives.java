package com.orvanta.jni;

import com.orvanta.jni.exceptions.HIDException;

/**
 * The native methods beyond {@link HIDClassConnector}'s: reads with a time
 * limit into a caller's array, and the wake that ends one, feature and input
 * reports, the open device's strings and record, its report descriptor and
 * the kernel's record of its node, hidapi's own text and the system's error
 * number for the last failure, and a watch of devices as they come and go. They take the same
 * handles and raise {@link HIDException} the same way; where hidapi
 * describes the failure, its text rides along in
 * {@link HIDException#getHidapiError()}.
 *
 * <p>Like the eight natives, these leave serialisation to the caller: one
 * handle from one thread at a time, and handles created, freed, opened and
 * enumerated from one thread at a time. {@code com.orvanta.hid} is the API
 * that does all of that for its callers.
 */
public final class HIDNatives {
    static {
        NativeLoader.load();
    }

    private HIDNatives() {
    }

    /**
     * Reads one input report into {@code buffer}, without allocating. It
     * waits in poll(), where {@link #_hid_wake} reaches it.
     *
     * @param timeoutMillis how long to wait for a report: 0 does not wait, below 0 waits until a
     *     report comes or {@link #_hid_wake} is called
     * @param length at least 1: the kernel's read of 0 bytes drops every report and waits
     * @return the bytes received (a report longer than {@code length} is cut), or 0 when the time
     *     ran out or the read was woken
     */
    public static int _hid_read_timeout(long handle, byte[] buffer, int offset, int length, int timeoutMillis)
            throws HIDException {
        return _hid_read_timeout0(handle, fitting(buffer, offset, length), offset, length, timeoutMillis);
    }

    /**
     * The bounds are checked here, where the array's length costs nothing;
     * asked of the VM, it would cost a read of 64 bytes half as much again. A
     * buffer they do not fit goes on as none, which the native refuses.
     */
    private static byte[] fitting(byte[] buffer, int offset, int length) {
        boolean fits = buffer != null && offset >= 0 && length > 0 && length <= buffer.length - offset;
        return fits ? buffer : null;
    }

    private static native int _hid_read_timeout0(long handle, byte[] buffer, int offset, int length,
            int timeoutMillis) throws HIDException;

    /**
     * Ends the handle's read under way as if its time ran out (it returns 0),
     * or, if none is under way, its next one. Call it from any thread, but
     * never on a handle that is being freed.
     */
    public static native void _hid_wake(long handle);

    /**
     * @return whether {@link #_hid_wake} ends a waiting read of this handle at
     *     once; where it does not (a sandbox or an emulator that lacks what
     *     it needs), wait in slices of a second or so instead
     */
    public static native boolean _hid_wake_works(long handle);

    /**
     * Sends a feature report: {@code data[0]} is the report ID (0 if the device numbers none); 1 to
     * 16383 bytes.
     */
    public static native void _hid_send_feature_report(long handle, byte[] data) throws HIDException;

    /**
     * Asks the device for a feature report.
     *
     * @param maxLength the most bytes to take, report ID included: 1 to 16383 (what the request's
     *     ioctl can carry)
     * @return the report as the device sent it, report ID first
     */
    public static native byte[] _hid_get_feature_report(long handle, int reportId, int maxLength)
            throws HIDException;

    /** Asks the device for an input report, as {@link #_hid_get_feature_report} does for a feature report. */
    public static native byte[] _hid_get_input_report(long handle, int reportId, int maxLength)
            throws HIDException;

    /** @return the open device's manufacturer name, "" where it has none */
    public static native String _hid_get_manufacturer_string(long handle) throws HIDException;

    /** @return the open device's product name, "" where it has none */
    public static native String _hid_get_product_string(long handle) throws HIDException;

    /** @return the open device's serial number, "" where it has none */
    public static native String _hid_get_serial_number_string(long handle) throws HIDException;

    /** @return the USB string descriptor at {@code index} (hidraw cannot read them: it always fails there) */
    public static native String _hid_get_indexed_string(long handle, int index) throws HIDException;

    /** @return the open device's own record, as the enumeration would list it */
    public static native HIDDevice _hid_get_device_info(long handle) throws HIDException;

    /**
     * Reads the report descriptor of a hidraw node from sysfs, as the kernel
     * keeps it (after any driver fix-up), without opening the node. Fails
     * when the node or its sysfs entry is gone, or passed to another device
     * while it was read ({@link #_hid_errno} is then ENODEV).
     *
     * @param path a node, /dev/hidrawN, as the enumeration lists it
     * @return its 0 to 4096 bytes
     */
    public static native byte[] _hid_get_report_descriptor(long handle, String path) throws HIDException;

    /**
     * Asks the kernel what it knows of a hidraw node, through the node's own ioctls
     * (HIDIOCGRAWINFO, HIDIOCGRAWNAME, HIDIOCGRAWPHYS): hidapi keeps its descriptor to itself, so
     * the node is opened again, read-only, for them. It needs the access a read needs.
     *
     * @param path a node, /dev/hidrawN
     * @param name receives the kernel's HID name: its bytes (UTF-8 as the kernel keeps them), then
     *     0; cut to fit, at most 256 bytes of the array written; 2 bytes or more
     * @param phys receives the physical path (where the device is attached) the same way
     * @return {bus, vendor ID, product ID}: the kernel's bus number (3 USB, 5 Bluetooth, 0x18 I2C,
     *     0x1C SPI; not hidapi's bus type) and the IDs, 0 to 65535. It fails when the node cannot
     *     be opened or answers none of them; {@link #_hid_errno} then says why: ENOENT without a
     *     node, EACCES, ENOTTY when it is no hidraw node, ENODEV when the device is gone.
     */
    public static native int[] _hid_get_raw_info(long handle, String path, byte[] name, byte[] phys)
            throws HIDException;

    /**
     * @return hidapi's text for the last failure on the handle's open device, or,
     *     with none open, of the last open or enumeration ("Success" if there was none)
     */
    public static native String _hid_error(long handle) throws HIDException;

    /**
     * @return the system's error number (errno) behind the handle's last failure, as
     *     {@link #_hid_error} describes it: 0 where there was none, or where hidapi saw the
     *     failure itself (a read that ended in a poll hang-up: the device was unplugged). A
     *     USB error (EIO, EPROTO, ESHUTDOWN) of a device whose sysfs entry is gone reads ENODEV.
     */
    public static native int _hid_errno(long handle) throws HIDException;

    /** @return a watch of hidraw devices as they come and go (a udev monitor), for the calls below */
    public static native long _monitor_open() throws HIDException;

    /**
     * Waits for devices to come or go, and takes every event pending.
     *
     * @param timeoutMillis below 0: without limit
     * @return three strings an event: "add" or "remove", the device node ("" if none), "vvvv:pppp"
     *     ("" where unknown); empty when the time ran out; null once {@link #_monitor_wake} was called
     */
    public static native String[] _monitor_wait(long monitor, int timeoutMillis) throws HIDException;

    /** Ends the current and every later {@link #_monitor_wait}; safe from any thread. */
    public static native void _monitor_wake(long monitor);

    /** Frees the watch; call it once no thread waits on it. */
    public static native void _monitor_close(long monitor);
}
