package com.orvanta.hid;

/** How many native handles (CHIDDevice objects) are alive in this process. */
final class LiveHandles {
    static {
        System.loadLibrary("hidapi_reference" + System.getProperty("sun.arch.data.model"));
    }

    private LiveHandles() {
    }

    static native int count();
}
