package com.orvanta.hid.descriptor;

/** The three kinds of report a descriptor lays out. */
public enum ReportType {
    /** Sent by the device: read, a listener, or {@code getInputReport}. */
    INPUT,
    /** Sent to the device: {@code write}. */
    OUTPUT,
    /** Both ways: {@code getFeatureReport} and {@code sendFeatureReport}. */
    FEATURE;

    /** @return the name in lower case, as the tool's JSON spells it */
    @Override
    public String toString() {
        return name().toLowerCase(java.util.Locale.ROOT);
    }
}
