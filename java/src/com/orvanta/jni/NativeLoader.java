package com.orvanta.jni;

import java.util.Locale;

/** Loads the native library that matches this VM's word size, once. */
final class NativeLoader {
    private static boolean loaded;

    private NativeLoader() {
    }

    static synchronized void load() {
        if (loaded) {
            return;
        }
        String library = libraryName();
        try {
            System.loadLibrary(library);
        } catch (UnsatisfiedLinkError e) {
            UnsatisfiedLinkError error = new UnsatisfiedLinkError(String.format(
                    "cannot load lib%s.so for this %s VM (os.arch=%s): %s; looked on java.library.path=%s",
                    library, wordSize(), System.getProperty("os.arch"), e.getMessage(),
                    System.getProperty("java.library.path")));
            error.initCause(e);
            throw error;
        }
        loaded = true;
    }

    /** portula64 for 64-bit VMs, portula32 for 32-bit x86 VMs. */
    static String libraryName() {
        String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ROOT);
        switch (arch) {
            case "amd64":
            case "x86_64":
                return "portula64";
            case "x86":
            case "i386":
            case "i486":
            case "i586":
            case "i686":
                return "portula32";
            default:
                throw new UnsatisfiedLinkError("no portula build for os.arch=" + arch + " ("
                        + wordSize() + " VM): portula ships libportula64.so for amd64 and"
                        + " libportula32.so for x86");
        }
    }

    private static String wordSize() {
        return System.getProperty("sun.arch.data.model", "?") + "-bit";
    }
}
