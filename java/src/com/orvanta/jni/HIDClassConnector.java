package com.orvanta.jni;

import com.orvanta.jni.exceptions.HIDException;

/**
 * The native HID library's entry points. A handle from {@link #_hid_init()}
 * holds at most one open device; pass it to every other method and give it
 * back with {@link #_free(long)}. A handle may be negative (32-bit VMs): only
 * 0 means "no handle". Use one handle from one thread at a time, and create
 * and free handles from one thread at a time.
 *
 * <p>Loading picks the build that matches the VM: {@code portula64} in a
 * 64-bit VM, {@code portula32} in a 32-bit x86 VM.
 */
public final class HIDClassConnector {
    static {
        NativeLoader.load();
    }

    private HIDClassConnector() {
    }

    /** @return a new handle, with no device open */
    public static native long _hid_init() throws HIDException;

    /** Opens the device at a path that enumeration reported, closing the handle's current one first. */
    public static native void _hid_open(long handle, String path) throws HIDException;

    /** Opens the first device with these IDs (each taken as 16 bits), closing the current one first. */
    public static native void _hid_open(long handle, int vendorId, int productId) throws HIDException;

    /** Closes the handle's device; with none open it does nothing. */
    public static native void _hid_close(long handle) throws HIDException;

    /** Sends one output report; its first byte is the report ID (0 if the device numbers none). */
    public static native void _hid_write(long handle, byte[] data) throws HIDException;

    /**
     * Waits for one input report and returns an array of exactly {@code length}
     * bytes: the report, then zeros.
     */
    public static native byte[] _hid_read(long handle, int length) throws HIDException;

    /**
     * Lists the HID devices present with these IDs (each taken as 16 bits);
     * 0 and 0 list every device.
     */
    public static native HIDDevice[] _enumerateDevices(long handle, int vendorId, int productId)
            throws HIDException;

    /** Frees a handle and closes its device. Handle 0 is ignored; the handle must not be used again. */
    public static native void _free(long handle);
}
