package com.orvanta.jni;

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Pointer;
import com.sun.jna.Structure;
import com.sun.jna.WString;
import java.util.ArrayList;
import java.util.List;

/**
 * hidapi's own enumeration, called through JNA in the same library the bridge
 * uses (it exports hidapi's API): the reference the bridge's results are
 * compared with.
 */
final class HidapiDirect {
    /** hid_device_info of hidapi 0.13, field by field. */
    @Structure.FieldOrder({"path", "vendor_id", "product_id", "serial_number", "release_number",
            "manufacturer_string", "product_string", "usage_page", "usage", "interface_number",
            "next", "bus_type"})
    public static class Info extends Structure {
        public String path;
        public short vendor_id;
        public short product_id;
        public WString serial_number;
        public short release_number;
        public WString manufacturer_string;
        public WString product_string;
        public short usage_page;
        public short usage;
        public int interface_number;
        public Pointer next;
        public int bus_type;

        public Info(Pointer p) {
            super(p);
            read();
        }
    }

    interface Hidapi extends Library {
        Pointer hid_enumerate(short vendorId, short productId);

        void hid_free_enumeration(Pointer list);
    }

    /** One record as the bridge should hand it to Java. */
    record Record(String path, int vendorId, int productId, String manufacturer, String product) {
    }

    private static Hidapi hidapi;

    private HidapiDirect() {
    }

    static synchronized List<Record> enumerate(int vendorId, int productId) {
        if (hidapi == null) {
            hidapi = Native.load(NativeLoader.libraryName(), Hidapi.class);
        }
        List<Record> records = new ArrayList<>();
        Pointer list = hidapi.hid_enumerate((short) vendorId, (short) productId);
        try {
            for (Pointer p = list; p != null; ) {
                Info info = new Info(p);
                records.add(new Record(info.path, info.vendor_id & 0xffff, info.product_id & 0xffff,
                        text(info.manufacturer_string), text(info.product_string)));
                p = info.next;
            }
        } finally {
            hidapi.hid_free_enumeration(list);
        }
        return records;
    }

    private static String text(WString w) {
        return w == null ? null : w.toString();
    }

    static Record of(HIDDevice d) {
        return new Record(d.getPath(), d.getVendor_id(), d.getProduct_id(), d.getManufacturer(),
                d.getProduct_string());
    }
}
