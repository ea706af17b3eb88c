package com.orvanta.jni;

import com.orvanta.jni.exceptions.HIDException;
import java.nio.ByteBuffer;

/**
 * The native methods beyond {@link HIDClassConnector}'s: reads with a time
 * limit into a caller's array or a direct buffer, feature and input reports,
 * the open device's strings and record, hidapi's own text for the last
 * failure, and a watch of devices as they come and go. They take the same
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
     * Reads one input report into {@code buffer}, without allocating.
     *
     * @param timeoutMillis how long to wait for a report: 0 does not wait, below 0 waits without limit
     * @return the bytes received (a report longer than {@code length} is cut), or 0 when the time ran out
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
        boolean fits = buffer != null && offset >= 0 && length >= 0 && length <= buffer.length - offset;
        return fits ? buffer : null;
    }

    private static native int _hid_read_timeout0(long handle, byte[] buffer, int offset, int length,
            int timeoutMillis) throws HIDException;

    /** The least an inbox of {@link #_hid_read_inbox} holds: hidraw's largest report. */
    public static final int INBOX_BYTES = 16384;

    /** For {@link #_hid_read_inbox}: the caller holds no biased gate. */
    public static final long ANY_EPOCH = Long.MIN_VALUE;

    /** What {@link #_hid_read_inbox} returns when the gate epoch moved. */
    public static final int GATE_MOVED = -1;

    /**
     * Where reads may land in {@code inbox}, a direct buffer of at least
     * {@link #INBOX_BYTES}; 0 for any other buffer. The address is good for as
     * long as the buffer is reachable.
     */
    public static native long _inbox_address(ByteBuffer inbox);

    /**
     * As {@link #_hid_read_timeout}, into an inbox from its start, for the
     * caller to copy out: nothing calls back into the VM, so a short read
     * costs about half as much. With an {@code epoch} other than
     * {@link #ANY_EPOCH}, the caller owns a biased read gate and marked its
     * read in flight before the call: {@link #GATE_MOVED}, with the handle not
     * touched, unless the gate epoch is still {@code epoch}.
     *
     * @param inbox an address from {@link #_inbox_address}, its buffer kept reachable through the call
     * @param length the most bytes to take, at most {@link #INBOX_BYTES}
     */
    public static native int _hid_read_inbox(long handle, long epoch, long inbox, int length, int timeoutMillis)
            throws HIDException;

    /**
     * The read gate's process-wide epoch now, or -1 where no gate may be
     * biased (the heavy barrier {@link #_gate_advance} needs is not to be had).
     */
    public static native long _gate_epoch();

    /**
     * Moves the gate epoch, then runs a full memory barrier on every thread of
     * the process: afterwards, an owner whose read was not yet marked in flight
     * sees the new epoch. Costs microseconds; for closing and revoking only.
     */
    public static native void _gate_advance();

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
     * @return hidapi's text for the last failure on the handle's open device, or,
     *     with none open, of the last open or enumeration ("Success" if there was none)
     */
    public static native String _hid_error(long handle) throws HIDException;

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
