package com.orvanta.hid;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.jni.HIDDevice;
import com.orvanta.jni.HIDNatives;
import java.util.List;
import java.util.Objects;

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
 * Every method may be called from any thread. What the device or the system
 * does wrong is a {@link HidException} (see {@link HidException#reason()});
 * a null argument is a {@link NullPointerException}, and an ID outside 0 to
 * 65535 an {@link IllegalArgumentException}.
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

    /**
     * Opens the device at a path that {@link #devices()} listed (/dev/hidrawN).
     * Its {@link HidDevice#info()} is the device's own record; where hidapi
     * cannot make one, the first record listed for the path, else one that
     * holds the path alone.
     */
    public static HidDevice open(String path) throws HidException {
        return open(Objects.requireNonNull(path, "path"), null);
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
        if (Objects.requireNonNull(device, "device").path() == null) {
            throw new HidException(Reason.NOT_FOUND, "the system knows no device node for " + device);
        }
        return open(device.path(), device);
    }

    /**
     * Reads a listed device's report descriptor, without opening it (no access
     * to its node is needed): the bytes the kernel keeps, after any driver's
     * fix-up.
     *
     * @return 1 to 4096 bytes
     * @throws HidException {@link Reason#NOT_FOUND} when the device is gone, or another took its
     *     node; {@link Reason#MALFORMED} when it has an empty descriptor
     */
    public static byte[] reportDescriptor(HidDeviceInfo device) throws HidException {
        if (Objects.requireNonNull(device, "device").path() == null) {
            throw new HidException(Reason.NOT_FOUND, "the system knows no device node for " + device);
        }
        return Registry.reportDescriptor(device.path());
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
        Objects.requireNonNull(listener, "listener");
        Registry.checkId("vendor", vendorId);
        Registry.checkId("product", productId);
        return new HidWatch(listener, present, vendorId, productId);
    }

    /** The open device's own record, or the first listed for its path, or one of the path alone. */
    private static HidDeviceInfo record(String path, Channel channel) throws HidException {
        try {
            return new HidDeviceInfo(channel.controlAlone(HIDNatives::_hid_get_device_info));
        } catch (HidException e) {
            if (e.reason() == Reason.CLOSED) {
                throw e;
            }
        }
        for (HidDeviceInfo d : devices()) {
            if (path.equals(d.path())) {
                return d;
            }
        }
        HIDDevice bare = new HIDDevice();
        bare.setPath(path);
        return new HidDeviceInfo(bare);
    }

    private static HidDevice open(String path, HidDeviceInfo listed) throws HidException {
        synchronized (Registry.LOCK) {
            Channel channel = Channel.open(path);
            try {
                return new HidDevice(listed != null ? listed : record(path, channel), channel);
            } catch (HidException | RuntimeException e) {
                channel.run();
                throw e;
            }
        }
    }
}
