package com.orvanta.hid;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.jni.HIDClassConnector;
import com.orvanta.jni.HIDDevice;
import com.orvanta.jni.HIDNatives;
import com.orvanta.jni.exceptions.HIDException;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * hidapi's process-wide state: handles made and freed, devices opened and
 * listed, and the text of the last open's failure. All of it is touched under
 * {@link #LOCK}, whichever thread calls.
 */
final class Registry {
    static final Object LOCK = new Object();
    // kept for listing: hidapi then stays initialised rather than starting
    // over with every enumeration
    private static long lister;

    private Registry() {
    }

    /** A new handle; LOCK held. */
    static long newHandle() throws HidException {
        try {
            return HIDClassConnector._hid_init();
        } catch (HIDException e) {
            throw new HidException(Reason.IO, e.getMessage(), e, null);
        }
    }

    static List<HidDeviceInfo> devices(int vendorId, int productId) throws HidException {
        checkId("vendor", vendorId);
        checkId("product", productId);
        synchronized (LOCK) {
            if (lister == 0) {
                lister = newHandle();
            }
            HIDDevice[] found;
            try {
                found = HIDClassConnector._enumerateDevices(lister, vendorId, productId);
            } catch (HIDException e) {
                throw new HidException(Reason.IO, e.getMessage(), e, error(lister));
            }
            List<HidDeviceInfo> devices = new ArrayList<>(found.length);
            for (HIDDevice d : found) {
                devices.add(new HidDeviceInfo(d));
            }
            return Collections.unmodifiableList(devices);
        }
    }

    /** A listed device's report descriptor, read from sysfs through the lister's handle. */
    static byte[] reportDescriptor(String path) throws HidException {
        byte[] descriptor;
        synchronized (LOCK) {
            if (lister == 0) {
                lister = newHandle();
            }
            try {
                descriptor = HIDNatives._hid_get_report_descriptor(lister, path);
            } catch (HIDException e) {
                String text = error(lister);
                if (errno(lister) == Errno.ENODEV) {
                    throw new HidException(Reason.NOT_FOUND, "no HID device at " + path
                            + " any more: it was unplugged, or another device took its node", e, text);
                }
                throw new HidException(Reason.IO, "cannot read the report descriptor of " + path, e, text);
            }
        }
        return nonEmpty(path, descriptor);
    }

    /** A report descriptor the device has, or the failure that it has none. */
    static byte[] nonEmpty(String path, byte[] descriptor) throws HidException {
        if (descriptor.length == 0) {
            throw new HidException(Reason.MALFORMED, path + " has an empty report descriptor");
        }
        return descriptor;
    }

    static void checkId(String what, int id) {
        if (id < 0 || id > 0xFFFF) {
            throw new IllegalArgumentException(what + " ID " + id + " is not 0 to 65535");
        }
    }

    /** hidapi's text for the handle's last failure, or null. */
    static String error(long handle) {
        try {
            return HIDNatives._hid_error(handle);
        } catch (HIDException e) {
            return null;
        }
    }

    /** The system's error number behind the handle's last failure, or 0. */
    static int errno(long handle) {
        try {
            return HIDNatives._hid_errno(handle);
        } catch (HIDException e) {
            return 0;
        }
    }

    /** What a failed open of path on handle means; LOCK held. */
    static HidException openFailure(String path, HIDException e, long handle) {
        String text = error(handle);
        switch (errno(handle)) {
            case Errno.EACCES:
            case Errno.EPERM:
                return new HidException(Reason.PERMISSION_DENIED, permissionDenied(path), e, text);
            case Errno.ENOENT:
            case Errno.ENXIO:
            case Errno.ENODEV:
                return new HidException(Reason.NOT_FOUND, "no HID device at " + path, e, text);
            default:
                return new HidException(Reason.IO, "cannot open " + path + ": " + text, e, text);
        }
    }

    private static String permissionDenied(String path) {
        String rule = "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"VVVV\", ATTRS{idProduct}==\"PPPP\", TAG+=\"uaccess\"";
        try {
            for (HidDeviceInfo d : devices(0, 0)) {
                if (path.equals(d.path())) {
                    rule = rule.replace("VVVV", String.format("%04x", d.vendorId()))
                            .replace("PPPP", String.format("%04x", d.productId()));
                    break;
                }
            }
        } catch (HidException e) {
            // the rule keeps its placeholders
        }
        return "permission denied: this user may not open " + path + ". Give access with a udev rule, as"
                + " portula's README says under \"Access for a non-root user\": the line " + rule
                + " in /etc/udev/rules.d/70-portula.rules, then udevadm control --reload and udevadm trigger"
                + " (as root), and open the device again";
    }
}
