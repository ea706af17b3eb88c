/**
 * portula: USB HID devices through hidapi. The tool's package
 * (com.orvanta.tool) is in the module but not exported.
 */
module com.orvanta.portula {
    exports com.orvanta.hid;
    exports com.orvanta.hid.descriptor;
    exports com.orvanta.jni;
    exports com.orvanta.jni.exceptions;
}
