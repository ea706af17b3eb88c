package com.orvanta.bench;

/** C++ through the same libportula64.so: CHIDDevice round trips, hidapi's own enumeration. */
final class NativeBench {
    private NativeBench() {
    }

    /** @return nanoseconds for n round trips on the echo device at path, or -1 */
    static native long roundTrips(String path, int n);

    /**
     * Reads count reports from the device at path in a bare loop of
     * hid_read_timeout (through CHIDDevice), on the calling thread.
     *
     * @return when each arrived, in System.nanoTime's clock; null if the device did not open
     */
    static native long[] arrivals(String path, int count);

    /** @return when each of count hidraw uevents reached a bare udev monitor loop, in System.nanoTime's clock */
    static native long[] uevents(int count);

    /**
     * Opens the device at path, then reads count reports queued on it with
     * timeout 0 through CHIDDevice.
     *
     * @return nanoseconds for the reads alone, or -1 if one found none
     */
    static native long queuedReads(String path, int count);

    /** @return the process's context switches so far, voluntary or not, of every thread it ever had */
    static native long contextSwitches();

    /** @return how many devices hid_enumerate listed */
    static native int bareEnumerate(int vendorId, int productId);
}
