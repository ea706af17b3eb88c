/**
 * portula: USB HID devices through hidapi. The tool's package
 * (com.orvanta.tool) is in the module but not exported; the test kit's hook
 * (com.orvanta.hid.internal) is exported to the kit alone, which this
 * module's build does not see.
 */
@SuppressWarnings("module")
module com.orvanta.portula {
    exports com.orvanta.hid;
    exports com.orvanta.hid.descriptor;
    exports com.orvanta.hid.internal to com.orvanta.portula.testkit;
    exports com.orvanta.jni;
    exports com.orvanta.jni.exceptions;
}
