package com.orvanta.hid;

import com.orvanta.jni.HIDDevice;
import java.util.Objects;

/**
 * One HID interface as hidapi lists it: an immutable value, equal to another
 * with the same fields. hidapi lists a device once per collection it finds in
 * the report descriptor after a usage (so a device with several top-level
 * collections more than once), each time with the same path and that
 * collection's usage page and usage.
 * A string is null where the device reports none (or reports it empty).
 */
public final class HidDeviceInfo {
    /** How the device is attached. */
    public enum BusType {
        UNKNOWN, USB, BLUETOOTH, I2C, SPI;

        static BusType of(int hidapiBusType) {
            BusType[] all = values();
            return hidapiBusType >= 0 && hidapiBusType < all.length ? all[hidapiBusType] : UNKNOWN;
        }
    }

    private final String path;
    private final int vendorId;
    private final int productId;
    private final String serialNumber;
    private final int releaseNumber;
    private final String manufacturer;
    private final String product;
    private final int usagePage;
    private final int usage;
    private final int interfaceNumber;
    private final BusType busType;

    HidDeviceInfo(HIDDevice d) {
        path = d.getPath();
        vendorId = d.getVendor_id();
        productId = d.getProduct_id();
        serialNumber = orNull(d.getSerial_number());
        releaseNumber = d.getRelease_number();
        manufacturer = orNull(d.getManufacturer());
        product = orNull(d.getProduct_string());
        usagePage = d.getUsage_page();
        usage = d.getUsage();
        interfaceNumber = d.getInterface_number();
        busType = BusType.of(d.getBus_type());
    }

    // hidapi gives "" for a serial number the device does not report
    private static String orNull(String text) {
        return text == null || text.isEmpty() ? null : text;
    }

    /** @return the platform's device path (/dev/hidrawN), or null where the system knows no node for it */
    public String path() {
        return path;
    }

    /** @return the vendor ID, 0 to 65535 */
    public int vendorId() {
        return vendorId;
    }

    /** @return the product ID, 0 to 65535 */
    public int productId() {
        return productId;
    }

    /** @return the serial number, or null */
    public String serialNumber() {
        return serialNumber;
    }

    /** @return the release number in binary-coded decimal (0x0123 is release 1.23), 0 to 65535 */
    public int releaseNumber() {
        return releaseNumber;
    }

    /** @return the manufacturer's name, or null */
    public String manufacturer() {
        return manufacturer;
    }

    /** @return the product's name, or null */
    public String product() {
        return product;
    }

    /** @return the usage page of this top-level collection, 0 to 65535 (0xFF00 and up: vendor-defined) */
    public int usagePage() {
        return usagePage;
    }

    /** @return the usage of this top-level collection, 0 to 65535 */
    public int usage() {
        return usage;
    }

    /** @return the USB interface number, or -1 where there is none */
    public int interfaceNumber() {
        return interfaceNumber;
    }

    /** @return how the device is attached */
    public BusType busType() {
        return busType;
    }

    @Override
    public boolean equals(Object other) {
        if (this == other) {
            return true;
        }
        if (!(other instanceof HidDeviceInfo)) {
            return false;
        }
        HidDeviceInfo o = (HidDeviceInfo) other;
        return vendorId == o.vendorId && productId == o.productId && releaseNumber == o.releaseNumber
                && usagePage == o.usagePage && usage == o.usage && interfaceNumber == o.interfaceNumber
                && busType == o.busType && Objects.equals(path, o.path) && Objects.equals(serialNumber, o.serialNumber)
                && Objects.equals(manufacturer, o.manufacturer) && Objects.equals(product, o.product);
    }

    @Override
    public int hashCode() {
        return Objects.hash(path, vendorId, productId, serialNumber, releaseNumber, manufacturer, product,
                usagePage, usage, interfaceNumber, busType);
    }

    /** @return for example {@code /dev/hidraw3 1209:ec40 "Orvanta Labs" "Echo" serial "E-1" release 0x0100 usage ff00:0001 interface 0 USB} */
    @Override
    public String toString() {
        return String.format("%s %04x:%04x %s %s serial %s release 0x%04x usage %04x:%04x interface %d %s", path,
                vendorId, productId, quoted(manufacturer), quoted(product), quoted(serialNumber), releaseNumber,
                usagePage, usage, interfaceNumber, busType);
    }

    private static String quoted(String text) {
        return text == null ? "-" : '"' + text + '"';
    }
}
