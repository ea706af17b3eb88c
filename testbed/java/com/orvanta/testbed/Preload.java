package com.orvanta.testbed;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.zip.GZIPInputStream;

/**
 * What a JVM that emulates HID devices preloads, from its start: the kit's
 * shim, then umockdev's preload library of the JVM's own platform (a preload
 * loaded later takes over no C library call).
 */
public final class Preload {
    /** The shim's file name, in the jar and the cache directory. */
    public static final String SHIM = "libtestbed_fstat.so";
    /** umockdev's preload library. */
    public static final String UMOCKDEV = "libumockdev-preload.so.0";
    /** The umockdev the kit is tested with: Debian 12's. */
    public static final String TESTED_UMOCKDEV = "0.17.16";

    /** Per platform: Debian's multiarch directory, the ELF class (1: 32-bit, 2: 64-bit) and machine. */
    private static final String[][] ELF = {
        {"x86-64", "x86_64-linux-gnu", "2", "62"},
        {"x86", "i386-linux-gnu", "1", "3"},
        {"aarch64", "aarch64-linux-gnu", "2", "183"},
        {"arm", "arm-linux-gnueabihf", "1", "40"},
    };

    private Preload() {
    }

    /**
     * umockdev's preload library for this VM's platform where distributions put
     * it, checked to be of that platform, or null.
     */
    public static Path findUmockdev() {
        String[] elf = elf();
        if (elf == null) {
            return null;
        }
        String wide = elf[2].equals("2") ? "64" : "";
        for (String dir : new String[] {"/usr/lib/" + elf[1], "/lib/" + elf[1], "/usr/local/lib/" + elf[1],
                "/usr/lib" + wide, "/usr/local/lib" + wide, "/usr/lib", "/usr/local/lib"}) {
            Path candidate = Paths.get(dir, UMOCKDEV);
            if (ofThisPlatform(candidate)) {
                return candidate;
            }
        }
        return null;
    }

    /** Whether file is a shared library of this VM's platform (its ELF class and machine). */
    public static boolean ofThisPlatform(Path file) {
        String[] elf = elf();
        byte[] head = new byte[20];
        try (InputStream in = Files.newInputStream(file)) {
            if (elf == null || in.read(head) != head.length) {
                return false;
            }
        } catch (IOException e) {
            return false;
        }
        int machine = (head[18] & 0xFF) | (head[19] & 0xFF) << 8;
        return head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F'
                && head[4] == Integer.parseInt(elf[2]) && machine == Integer.parseInt(elf[3]);
    }

    /**
     * umockdev's version, from what its package left beside the library:
     * Debian's changelog, else pkg-config's file; null when neither is there.
     */
    public static String umockdevVersion(Path library) {
        Path dir = library.toAbsolutePath().getParent();
        Path up = dir.getParent();
        // <prefix>/lib64/ or <prefix>/lib/<multiarch>/
        for (Path prefix : new Path[] {up, up == null ? null : up.getParent()}) {
            if (prefix == null) {
                continue;
            }
            Path changelog = prefix.resolve("share/doc/umockdev/changelog.Debian.gz");
            if (Files.isRegularFile(changelog)) {
                try (BufferedReader in = new BufferedReader(new InputStreamReader(
                        new GZIPInputStream(Files.newInputStream(changelog)), StandardCharsets.UTF_8))) {
                    // umockdev (0.17.16-1) unstable; urgency=medium
                    String line = in.readLine();
                    if (line != null && line.indexOf('(') > 0 && line.indexOf(')') > line.indexOf('(')) {
                        String version = line.substring(line.indexOf('(') + 1, line.indexOf(')'));
                        version = version.substring(version.indexOf(':') + 1);
                        return version.lastIndexOf('-') > 0 ? version.substring(0, version.lastIndexOf('-')) : version;
                    }
                } catch (IOException e) {
                    // then pkg-config's, or none
                }
            }
        }
        try {
            for (String line : Files.readAllLines(dir.resolve("pkgconfig/umockdev-1.0.pc"), StandardCharsets.UTF_8)) {
                if (line.startsWith("Version:")) {
                    return line.substring("Version:".length()).trim();
                }
            }
        } catch (IOException e) {
            // no pkg-config file
        }
        return null;
    }

    /** The LD_PRELOAD value: the shim, extracted into the cache directory, then umockdev's library. */
    public static String value(Path umockdev) throws IOException {
        return KitFiles.extract(SHIM) + " " + umockdev;
    }

    /**
     * What this process lacks of the preload, from the libraries mapped into it:
     * null when the shim and umockdev's library are both there.
     */
    public static String missing() {
        boolean shim = false;
        boolean umockdev = false;
        try {
            for (String line : Files.readAllLines(Paths.get("/proc/self/maps"), StandardCharsets.UTF_8)) {
                shim |= line.endsWith("/" + SHIM);
                umockdev |= line.contains("/libumockdev-preload.so");
            }
        } catch (IOException e) {
            return "/proc/self/maps cannot be read (" + e + ")";
        }
        List<String> missing = new ArrayList<>();
        if (!shim) {
            missing.add(SHIM);
        }
        if (!umockdev) {
            missing.add(UMOCKDEV);
        }
        return missing.isEmpty() ? null : String.join(" and ", missing) + (missing.size() == 1 ? " is" : " are")
                + " not loaded";
    }

    /** How to start a JVM that can emulate HID devices: for the error of one that cannot. */
    public static String howToStart() {
        Path umockdev = findUmockdev();
        if (umockdev == null) {
            return "install umockdev (Debian and Ubuntu: apt install umockdev), then start the JVM with"
                    + " LD_PRELOAD=\"$(java -jar portula-testkit.jar env)\"";
        }
        try {
            return "start the JVM with LD_PRELOAD=\"" + value(umockdev) + "\" (what java -jar"
                    + " portula-testkit.jar env prints); under Maven Surefire, set LD_PRELOAD in"
                    + " <environmentVariables>";
        } catch (IOException e) {
            return "start the JVM with LD_PRELOAD=\"$(java -jar portula-testkit.jar env)\" (the shim cannot be"
                    + " extracted here: " + e.getMessage() + ")";
        }
    }

    private static String[] elf() {
        String platform = KitFiles.platform();
        for (String[] elf : ELF) {
            if (elf[0].equals(platform)) {
                return elf;
            }
        }
        return null;
    }
}
