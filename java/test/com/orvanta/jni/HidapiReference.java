package com.orvanta.jni;

import java.util.ArrayList;
import java.util.List;

/**
 * hidapi's own enumeration, read through the same library the bridge uses
 * (it exports hidapi's API): the reference the bridge's results are compared
 * with. Names come as code points and are decoded here.
 */
final class HidapiReference {
    static {
        System.loadLibrary("hidapi_reference" + System.getProperty("sun.arch.data.model"));
    }

    /** One record as the bridge should hand it to Java. */
    record Record(String path, int vendorId, int productId, String manufacturer, String product) {
    }

    private HidapiReference() {
    }

    private static native Object[][] enumerate(int vendorId, int productId);

    static List<Record> records(int vendorId, int productId) {
        List<Record> out = new ArrayList<>();
        for (Object[] row : enumerate(vendorId, productId)) {
            int[] ids = (int[]) row[1];
            out.add(new Record((String) row[0], ids[0], ids[1], text((int[]) row[2]), text((int[]) row[3])));
        }
        return out;
    }

    private static String text(int[] codePoints) {
        return codePoints == null ? null : new String(codePoints, 0, codePoints.length);
    }

    static Record of(HIDDevice d) {
        return new Record(d.getPath(), d.getVendor_id(), d.getProduct_id(), d.getManufacturer(),
                d.getProduct_string());
    }
}
