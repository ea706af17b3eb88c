package com.orvanta.bench;

/** Bare JNI natives doing the bridge's array work and nothing else. */
final class Floor {
    private Floor() {
    }

    static native void write(long handle, byte[] data);

    static native byte[] read(long handle, int length);

    static native int readInto(long handle, byte[] buffer, int offset, int length);

    /** Fills length bytes at address (from HIDNatives._inbox_address); Java copies them out. */
    static native int readTo(long handle, long address, int length);
}
