package com.orvanta.jni;

/**
 * One HID interface found by {@link HIDClassConnector#_enumerateDevices}: its
 * device path (for {@link HIDClassConnector#_hid_open(long, String)}), IDs,
 * names and the rest of hidapi's record. A string the device does not report
 * stays null. The native library fills the fields through the setters; those
 * after {@link #setProduct_string} are optional to it, so a caller's own
 * older copy of this class, without them, still works.
 */
public class HIDDevice {
    private String path;
    private int vendor_id;
    private int product_id;
    private String manufacturer;
    private String product_string;
    private String serial_number;
    private int release_number;
    private int usage_page;
    private int usage;
    private int interface_number = -1;
    private int bus_type;

    public HIDDevice() {
    }

    /** @return the platform device path, as the enumeration reported it */
    public String getPath() {
        return path;
    }

    public void setPath(String path) {
        this.path = path;
    }

    /** @return the vendor ID, 0 to 65535 */
    public int getVendor_id() {
        return vendor_id;
    }

    public void setVendor_id(int vendor_id) {
        this.vendor_id = vendor_id;
    }

    /** @return the product ID, 0 to 65535 */
    public int getProduct_id() {
        return product_id;
    }

    public void setProduct_id(int product_id) {
        this.product_id = product_id;
    }

    /** @return the manufacturer name, or null if the device has none */
    public String getManufacturer() {
        return manufacturer;
    }

    public void setManufacturer(String manufacturer) {
        this.manufacturer = manufacturer;
    }

    /** @return the product name, or null if the device has none */
    public String getProduct_string() {
        return product_string;
    }

    public void setProduct_string(String product_string) {
        this.product_string = product_string;
    }

    /** @return the serial number, or null if the device has none */
    public String getSerial_number() {
        return serial_number;
    }

    public void setSerial_number(String serial_number) {
        this.serial_number = serial_number;
    }

    /** @return the device's release number in binary-coded decimal (bcdDevice), 0 to 65535 */
    public int getRelease_number() {
        return release_number;
    }

    public void setRelease_number(int release_number) {
        this.release_number = release_number;
    }

    /** @return the usage page of the interface's first top-level collection, 0 to 65535 */
    public int getUsage_page() {
        return usage_page;
    }

    public void setUsage_page(int usage_page) {
        this.usage_page = usage_page;
    }

    /** @return the usage of that collection, 0 to 65535 */
    public int getUsage() {
        return usage;
    }

    public void setUsage(int usage) {
        this.usage = usage;
    }

    /** @return the USB interface number, or -1 where there is none (not USB, or unknown) */
    public int getInterface_number() {
        return interface_number;
    }

    public void setInterface_number(int interface_number) {
        this.interface_number = interface_number;
    }

    /** @return hidapi's bus type: 0 unknown, 1 USB, 2 Bluetooth, 3 I2C, 4 SPI */
    public int getBus_type() {
        return bus_type;
    }

    public void setBus_type(int bus_type) {
        this.bus_type = bus_type;
    }

    @Override
    public String toString() {
        return String.format("%s %04x:%04x %s %s", path, vendor_id, product_id, manufacturer,
                product_string);
    }
}
