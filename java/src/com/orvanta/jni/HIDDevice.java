package com.orvanta.jni;

/**
 * One HID interface found by {@link HIDClassConnector#_enumerateDevices}: its
 * device path (for {@link HIDClassConnector#_hid_open(long, String)}), IDs and
 * names. A name the device does not report stays null.
 */
public class HIDDevice {
    private String path;
    private int vendor_id;
    private int product_id;
    private String manufacturer;
    private String product_string;

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

    @Override
    public String toString() {
        return String.format("%s %04x:%04x %s %s", path, vendor_id, product_id, manufacturer,
                product_string);
    }
}
