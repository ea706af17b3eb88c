package com.orvanta.jni;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.ByteBuffer;
import java.nio.channels.SeekableByteChannel;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.CodeSource;
import java.security.SecureRandom;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;

/**
 * Loads the native library that matches this VM, once: from java.library.path
 * when it is there, else from the jar through a private temporary copy that
 * is deleted as soon as it is loaded.
 */
final class NativeLoader {
    /** os.arch values, the library each needs and where the jar holds it. */
    private static final String[][] BUILDS = {
        {"amd64 x86_64", "portula64", "linux-x86-64"},
        {"x86 i386 i486 i586 i686", "portula32", "linux-x86"},
        {"aarch64 arm64", "portula64", "linux-aarch64"},
        {"arm armv7l armhf", "portula32", "linux-arm"},
    };
    private static boolean loaded;

    private NativeLoader() {
    }

    static synchronized void load() {
        if (loaded) {
            return;
        }
        String[] build = build();
        String library = build[1];
        String file = System.mapLibraryName(library);
        String libraryPath = System.getProperty("java.library.path", "");
        File onPath = findOnPath(file, libraryPath);
        if (onPath != null) {
            try {
                System.loadLibrary(library);
            } catch (UnsatisfiedLinkError | RuntimeException e) {
                throw failure(file, deniedNativeAccess(e) ? noNativeAccess()
                        : "found " + onPath + " on java.library.path but it did not load: " + e.getMessage(), e);
            }
        } else {
            loadFromJar(build[2] + "/" + file, file, libraryPath);
        }
        loaded = true;
    }

    /** The entry of BUILDS for this VM's os.arch. */
    private static String[] build() {
        String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ROOT);
        for (String[] build : BUILDS) {
            for (String name : build[0].split(" ")) {
                if (name.equals(arch)) {
                    return build;
                }
            }
        }
        List<String> carried = new ArrayList<>();
        for (String[] build : BUILDS) {
            String resource = build[2] + "/" + System.mapLibraryName(build[1]);
            if (NativeLoader.class.getResource("/" + resource) != null) {
                carried.add(resource + " (os.arch " + build[0].replace(" ", ", ") + ")");
            }
        }
        throw new UnsatisfiedLinkError("no portula build for os.arch=" + arch + " (" + wordSize()
                + " VM): " + (carried.isEmpty() ? codeSource() + " carries no native library"
                : codeSource() + " carries " + String.join("; ", carried)));
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

    private static void loadFromJar(String resource, String file, String libraryPath) {
        URL url = NativeLoader.class.getResource("/" + resource);
        if (url == null) {
            throw failure(file, "not on java.library.path=" + libraryPath + ", and no resource "
                    + resource + " in " + codeSource(), null);
        }
        String tmpdir = System.getProperty("java.io.tmpdir");
        Path copy = null;
        try {
            copy = writeCopy(url, Paths.get(tmpdir), file);
            System.load(copy.toString());
        } catch (IOException | RuntimeException | UnsatisfiedLinkError e) {
            throw failure(file, deniedNativeAccess(e) ? noNativeAccess() : "not on java.library.path="
                    + libraryPath + ", and the jar's " + resource + " (" + url
                    + ") could not be loaded through a copy in java.io.tmpdir=" + tmpdir + ": " + e, e);
        } finally {
            // a loaded library needs no file: nothing is left behind, not even
            // when the VM dies without running its shutdown hooks
            deleteQuietly(copy);
        }
    }

    /**
     * Copies the resource into a new owner-only file, made and written through
     * one descriptor that follows no symbolic link: nobody else can swap the
     * code this VM is about to run.
     */
    private static Path writeCopy(URL url, Path dir, String file) throws IOException {
        SecureRandom random = new SecureRandom();
        for (int attempt = 0; ; attempt++) {
            Path copy = dir.resolve(file.replace(".so", "-" + Long.toUnsignedString(random.nextLong(), 36) + ".so"));
            Set<OpenOption> options = new HashSet<OpenOption>(Arrays.asList(
                    StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS));
            try (SeekableByteChannel out = Files.newByteChannel(copy, options,
                    PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-------")));
                    InputStream in = url.openStream()) {
                try {
                    byte[] chunk = new byte[65536];
                    for (int n; (n = in.read(chunk)) > 0; ) {
                        ByteBuffer buffer = ByteBuffer.wrap(chunk, 0, n);
                        while (buffer.hasRemaining()) {
                            out.write(buffer);
                        }
                    }
                } catch (IOException | RuntimeException e) {
                    deleteQuietly(copy);
                    throw e;
                }
                return copy;
            } catch (FileAlreadyExistsException e) {
                if (attempt == 10) {
                    throw e;
                }
            }
        }
    }

    private static void deleteQuietly(Path path) {
        if (path == null) {
            return;
        }
        try {
            Files.deleteIfExists(path);
        } catch (IOException ignored) {
            // the directory's owner removes it
        }
    }

    /**
     * Java 24 and later under --illegal-native-access=deny refuse the load to a
     * module without native access. The class is Java 9's: named here by name.
     */
    private static boolean deniedNativeAccess(Throwable e) {
        return e.getClass().getName().equals("java.lang.IllegalCallerException");
    }

    /** What to add to the java command: the same words wherever the library was to come from. */
    private static String noNativeAccess() {
        String module = moduleName();
        return "native access is denied to " + (module == null ? "the class path" : "module " + module)
                + ": add --enable-native-access=" + (module == null ? "ALL-UNNAMED" : module) + " to the java command";
    }

    /** This class's module, or null on the class path (reflection: the classes are Java 8's). */
    private static String moduleName() {
        try {
            Object module = Class.class.getMethod("getModule").invoke(NativeLoader.class);
            return (String) module.getClass().getMethod("getName").invoke(module);
        } catch (ReflectiveOperationException e) {
            return null;
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
