package com.orvanta.bench;

/** C++ through the same libportula64.so: CHIDDevice round trips, hidapi's own enumeration. */
final class NativeBench {
    private NativeBench() {
    }

    /** @return nanoseconds for n round trips on the echo device at path, or -1 */
    static native long roundTrips(String path, int n);

    /** @return how many devices hid_enumerate listed */
    static native int bareEnumerate(int vendorId, int productId);
}
