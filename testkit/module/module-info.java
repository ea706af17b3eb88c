/**
 * portula's test kit: emulated HID devices for tests (com.orvanta.testkit).
 * The emulator's own classes (com.orvanta.testbed) are in the module but not
 * exported; JUnit is needed only for the extension.
 */
module com.orvanta.portula.testkit {
    requires transitive com.orvanta.portula;
    requires static org.junit.jupiter.api;
    exports com.orvanta.testkit;
}
