package com.orvanta.bench;

/** Bare JNI natives doing the bridge's array work and nothing else. */
final class Floor {
    private Floor() {
    }

    static native void write(long handle, byte[] data);

    static native byte[] read(long handle, int length);

    static native int readInto(long handle, byte[] buffer, int offset, int length);

    /** Calls the loaded hid_read_timeout n times for 64 bytes, timeout 0, in a bare loop; how many read 64. */
    static native int bareReads(int n);
}
