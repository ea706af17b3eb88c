package com.orvanta.testbed;

import java.io.IOException;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * {@code java -jar portula-testkit.jar env [--umockdev FILE]}: prints the
 * LD_PRELOAD value that a JVM of this platform needs to emulate HID devices
 * (and nothing else on standard output, for {@code $(...)}); what it found
 * goes to standard error. Exit codes: 0 done, 1 failed, 2 usage error.
 */
public final class KitMain {
    private static final String USAGE = "usage: java -jar portula-testkit.jar env [--umockdev FILE]\n"
            + "  Prints the LD_PRELOAD value for a JVM of this one's platform that emulates HID devices:\n"
            + "  the kit's shim (extracted into " + KitFiles.cacheDir().getParent().getParent() + "/...) and\n"
            + "  umockdev's preload library (found where distributions put it, or FILE).\n"
            + "  For example: export PORTULA_PRELOAD=\"$(java -jar portula-testkit.jar env)\"\n";

    private KitMain() {
    }

    /** Runs the command and exits with its code. */
    public static void main(String[] args) {
        System.exit(run(args));
    }

    static int run(String[] args) {
        if (args.length == 1 && (args[0].equals("--help") || args[0].equals("-h"))) {
            System.out.print(USAGE);
            return 0;
        }
        Path umockdev = null;
        boolean given = false;
        if (args.length == 3 && args[0].equals("env") && args[1].equals("--umockdev")) {
            umockdev = Paths.get(args[2]);
            given = true;
        } else if (args.length != 1 || !args[0].equals("env")) {
            System.err.print(USAGE);
            return 2;
        }
        String platform = KitFiles.platform();
        if (platform == null) {
            System.err.println("portula-testkit env: no kit for os.arch=" + System.getProperty("os.arch")
                    + ": it has x86-64, x86, aarch64 and arm");
            return 1;
        }
        if (umockdev == null) {
            umockdev = Preload.findUmockdev();
        }
        if (umockdev == null) {
            System.err.println("portula-testkit env: umockdev's " + Preload.UMOCKDEV + " for " + platform
                    + " is not installed: install umockdev (Debian and Ubuntu: apt install umockdev"
                    + (platform.equals("x86-64") ? "" : ":" + debianArch(platform)) + "), or give --umockdev FILE");
            return 1;
        }
        if (given && !Preload.ofThisPlatform(umockdev)) {
            System.err.println("portula-testkit env: " + umockdev + " is not a shared library for " + platform);
            return 1;
        }
        String value;
        try {
            value = Preload.value(umockdev);
        } catch (IOException e) {
            System.err.println("portula-testkit env: cannot extract the shim: " + e);
            return 1;
        }
        String version = Preload.umockdevVersion(umockdev);
        System.err.println("portula-testkit env: umockdev " + (version == null ? "of unknown version" : version)
                + " at " + umockdev + (Preload.TESTED_UMOCKDEV.equals(version) ? ": the version tested"
                : ": untested (the kit is tested with " + Preload.TESTED_UMOCKDEV + ", Debian 12's)"));
        System.out.println(value);
        return 0;
    }

    private static String debianArch(String platform) {
        return platform.equals("x86") ? "i386" : platform.equals("aarch64") ? "arm64" : "armhf";
    }
}
