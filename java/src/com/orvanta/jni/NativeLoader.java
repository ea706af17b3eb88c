package com.orvanta.jni;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.CodeSource;
import java.util.Locale;

/**
 * Loads the native library that matches this VM's word size, once: from
 * java.library.path when it is there, else from the jar (linux-x86-64/ or
 * linux-x86/) through a private temporary copy.
 */
final class NativeLoader {
    private static boolean loaded;

    private NativeLoader() {
    }

    static synchronized void load() {
        if (loaded) {
            return;
        }
        String library = libraryName();
        String file = System.mapLibraryName(library);
        String libraryPath = System.getProperty("java.library.path", "");
        File onPath = findOnPath(file, libraryPath);
        if (onPath != null) {
            try {
                System.loadLibrary(library);
            } catch (UnsatisfiedLinkError e) {
                throw failure(file, "found " + onPath + " on java.library.path but it did not load: "
                        + e.getMessage(), e);
            }
        } else {
            loadFromJar(library, file, libraryPath);
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

    /** Where portula.jar holds a build: linux-x86-64/libportula64.so, linux-x86/libportula32.so. */
    static String resourceName(String library) {
        return (library.equals("portula64") ? "linux-x86-64/" : "linux-x86/")
                + System.mapLibraryName(library);
    }

    private static File findOnPath(String file, String libraryPath) {
        for (String dir : libraryPath.split(File.pathSeparator)) {
            if (dir.isEmpty()) {
                continue;
            }
            File candidate = new File(dir, file);
            if (candidate.isFile()) {
                return candidate;
            }
        }
        return null;
    }

    private static void loadFromJar(String library, String file, String libraryPath) {
        String resource = resourceName(library);
        URL url = NativeLoader.class.getResource("/" + resource);
        if (url == null) {
            throw failure(file, "not on java.library.path=" + libraryPath + ", and no resource "
                    + resource + " in " + codeSource(), null);
        }
        String tmpdir = System.getProperty("java.io.tmpdir");
        Path copy = null;
        try {
            // owner-only: no other user may swap the code this VM is about to run
            copy = Files.createTempFile(Paths.get(tmpdir), file.replace(".so", "-"), ".so",
                    PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-------")));
            copy.toFile().deleteOnExit();
            // into the file just made: replacing it would lose its permissions
            try (InputStream in = url.openStream(); OutputStream out = Files.newOutputStream(copy)) {
                in.transferTo(out);
            }
            System.load(copy.toString());
        } catch (IOException | RuntimeException | UnsatisfiedLinkError e) {
            deleteQuietly(copy);
            throw failure(file, "not on java.library.path=" + libraryPath + ", and the jar's " + resource
                    + " (" + url + ") could not be loaded through a copy in java.io.tmpdir=" + tmpdir
                    + ": " + e, e);
        }
    }

    private static void deleteQuietly(Path path) {
        if (path == null) {
            return;
        }
        try {
            Files.deleteIfExists(path);
        } catch (IOException ignored) {
            // deleteOnExit stays registered
        }
    }

    private static String codeSource() {
        CodeSource source = NativeLoader.class.getProtectionDomain().getCodeSource();
        return source == null || source.getLocation() == null ? "the class path"
                : source.getLocation().toString();
    }

    private static UnsatisfiedLinkError failure(String file, String why, Throwable cause) {
        UnsatisfiedLinkError error = new UnsatisfiedLinkError(String.format(
                "cannot load %s for this %s VM (os.arch=%s): %s", file, wordSize(),
                System.getProperty("os.arch"), why));
        if (cause != null) {
            error.initCause(cause);
        }
        return error;
    }

    private static String wordSize() {
        return System.getProperty("sun.arch.data.model", "?") + "-bit";
    }
}
