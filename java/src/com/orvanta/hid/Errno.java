package com.orvanta.hid;

/** The Linux error numbers the API tells failures apart by: the same on every architecture it runs on. */
final class Errno {
    static final int EPERM = 1;
    static final int ENOENT = 2;
    static final int EIO = 5;
    static final int ENXIO = 6;
    static final int EACCES = 13;
    static final int ENODEV = 19;
    static final int ENOTTY = 25;

    private Errno() {
    }
}
