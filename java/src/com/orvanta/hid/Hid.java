package com.orvanta.hid;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.jni.HIDDevice;
import com.orvanta.jni.HIDNatives;
import java.util.List;

/**
 * The HID devices present, and the way to open one.
 *
 * <pre>{@code
 * try (HidDevice device = Hid.open(0x1209, 0xec40)) {
 *     device.write(new byte[] {0, 1, 2, 3});          // report ID 0 first
 *     byte[] report = device.read(1000);              // empty if none came within 1 s
 * }
 * }</pre>
 *
 * Every method may be called from any thread. Failures are
 * {@link HidException}s; see {@link HidException#reason()}.
 */
public final class Hid {
    private Hid() {
    }

    /** @return every HID interface present, in hidapi's order */
    public static List<HidDeviceInfo> devices() throws HidException {
        return Registry.devices(0, 0);
    }

    /**
     * @param vendorId 0 to 65535; 0 lists every vendor's
     * @param productId 0 to 65535; 0 lists every product
     * @return the HID interfaces present with these IDs, in hidapi's order
     */
    public static List<HidDeviceInfo> devices(int vendorId, int productId) throws HidException {
        return Registry.devices(vendorId, productId);
    }

    /** Opens the device at a path that {@link #devices()} listed (/dev/hidrawN). */
    public static HidDevice open(String path) throws HidException {
        if (path == null) {
            throw new HidException(Reason.BAD_ARGUMENT, "no path to open");
        }
        return open(path, null);
    }

    /** Opens the first device listed with these IDs. */
    public static HidDevice open(int vendorId, int productId) throws HidException {
        return open(vendorId, productId, null);
    }

    /** Opens the first device listed with these IDs and this serial number (null: any). */
    public static HidDevice open(int vendorId, int productId, String serialNumber) throws HidException {
        for (HidDeviceInfo d : devices(vendorId, productId)) {
            if (d.vendorId() == vendorId && d.productId() == productId && d.path() != null
                    && (serialNumber == null || serialNumber.equals(d.serialNumber()))) {
                return open(d);
            }
        }
        throw new HidException(Reason.NOT_FOUND, String.format("no HID device %04x:%04x%s", vendorId, productId,
                serialNumber == null ? "" : " with serial number " + serialNumber));
    }

    /** Opens a device that {@link #devices()} listed; its {@link HidDevice#info()} is this one. */
    public static HidDevice open(HidDeviceInfo device) throws HidException {
        if (device == null) {
            throw new HidException(Reason.BAD_ARGUMENT, "no device to open");
        }
        if (device.path() == null) {
            throw new HidException(Reason.NOT_FOUND, "the system knows no device node for " + device);
        }
        return open(device.path(), device);
    }

    /**
     * Watches HID devices come and go: listener hears of each device attached
     * or detached from now on, as it happens (from the system's device
     * events, not by polling).
     *
     * <pre>{@code
     * try (HidWatch watch = Hid.watch(listener, true)) {
     *     ...
     * }
     * }</pre>
     *
     * @param present true: the devices already present are reported first, as
     *     attaches; none is missed or doubled between that listing and the events
     */
    public static HidWatch watch(HidWatchListener listener, boolean present) throws HidException {
        return watch(listener, present, 0, 0);
    }

    /** As {@link #watch(HidWatchListener, boolean)}, for devices with these IDs only (0: any). */
    public static HidWatch watch(HidWatchListener listener, boolean present, int vendorId, int productId)
            throws HidException {
        if (listener == null) {
            throw new HidException(Reason.BAD_ARGUMENT, "no listener to tell");
        }
        Registry.checkId("vendor", vendorId);
        Registry.checkId("product", productId);
        return new HidWatch(listener, present, vendorId, productId);
    }

    private static HidDevice open(String path, HidDeviceInfo listed) throws HidException {
        synchronized (Registry.LOCK) {
            Channel channel = Channel.open(path);
            try {
                HidDeviceInfo info = listed;
                if (info == null) {
                    HIDDevice record = channel.controlAlone(HIDNatives::_hid_get_device_info);
                    info = new HidDeviceInfo(record);
                }
                return new HidDevice(info, channel);
            } catch (HidException | RuntimeException e) {
                channel.run();
                throw e;
            }
        }
    }
}
