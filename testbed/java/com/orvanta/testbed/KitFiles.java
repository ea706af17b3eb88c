package com.orvanta.testbed;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.CodeSource;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Arrays;
import java.util.Locale;
import java.util.Set;

/**
 * The test kit's native files (the emulator's JNI library, the preload shim)
 * for this VM's platform: each extracted from the jar once, into
 * {@code ${XDG_CACHE_HOME:-~/.cache}/portula/VERSION/PLATFORM/} (mode 0700),
 * and replaced whenever its bytes differ from the jar's. A preload must stay
 * a file for as long as JVMs start with it, so it cannot be a temporary copy.
 */
public final class KitFiles {
    /** The jar's platform directories (linux-PLATFORM/) and the os.arch values of each. */
    private static final String[][] PLATFORMS = {
        {"x86-64", "amd64 x86_64"},
        {"x86", "x86 i386 i486 i586 i686"},
        {"aarch64", "aarch64 arm64"},
        {"arm", "arm armv7l armhf"},
    };
    private static final Set<PosixFilePermission> OWNER_ONLY = PosixFilePermissions.fromString("rwx------");

    private KitFiles() {
    }

    /** This VM's platform as the jar names it (x86-64, x86, aarch64, arm), or null. */
    public static String platform() {
        String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ROOT);
        for (String[] platform : PLATFORMS) {
            if (Arrays.asList(platform[1].split(" ")).contains(arch)) {
                return platform[0];
            }
        }
        return null;
    }

    /** Where this VM's files go: ${XDG_CACHE_HOME:-~/.cache}/portula/VERSION/PLATFORM. */
    public static Path cacheDir() {
        String xdg = System.getenv("XDG_CACHE_HOME");
        // the XDG rule: a relative path is ignored
        Path cache = xdg != null && xdg.startsWith("/") ? Paths.get(xdg)
                : Paths.get(System.getProperty("user.home"), ".cache");
        return cache.resolve("portula").resolve(Version.PORTULA).resolve(String.valueOf(platform()));
    }

    /** Whether java.library.path holds file. */
    static boolean onLibraryPath(String file) {
        for (String dir : System.getProperty("java.library.path", "").split(File.pathSeparator)) {
            if (!dir.isEmpty() && new File(dir, file).isFile()) {
                return true;
            }
        }
        return false;
    }

    /**
     * The jar's linux-PLATFORM/file, in the cache directory: written there unless
     * a file with the same bytes is there already.
     *
     * @throws IOException when the jar holds no such file for this VM, or it cannot be written
     */
    public static Path extract(String file) throws IOException {
        String resource = "linux-" + platform() + "/" + file;
        URL url = KitFiles.class.getResource("/" + resource);
        if (url == null) {
            throw new IOException(codeSource() + " holds no " + resource + " for this VM (os.arch="
                    + System.getProperty("os.arch") + ")");
        }
        byte[] bytes;
        try (InputStream in = url.openStream()) {
            bytes = readAll(in);
        }
        Path dir = cacheDir();
        try {
            return write(dir, file, bytes);
        } catch (IOException e) {
            // the exception's own message is often the bare path
            throw new IOException("the cache directory " + dir + " cannot be written (" + e
                    + "): XDG_CACHE_HOME chooses it (default ~/.cache)", e);
        }
    }

    private static Path write(Path dir, String file, byte[] bytes) throws IOException {
        Files.createDirectories(dir, PosixFilePermissions.asFileAttribute(OWNER_ONLY));
        // also a directory that was there before, and one of another owner fails here
        Files.setPosixFilePermissions(dir, OWNER_ONLY);
        Path target = dir.resolve(file);
        if (Files.isRegularFile(target) && Arrays.equals(sha256(Files.readAllBytes(target)), sha256(bytes))) {
            return target;
        }
        // written beside it and renamed: a JVM that maps the old file keeps it
        Path temp = Files.createTempFile(dir, file, ".tmp");
        try {
            try (OutputStream out = Files.newOutputStream(temp)) {
                out.write(bytes);
            }
            Files.move(temp, target, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        } finally {
            Files.deleteIfExists(temp);
        }
        return target;
    }

    /** The named module of type, or null on the class path (reflection: the classes are Java 8's). */
    static String moduleName(Class<?> type) {
        try {
            Object module = Class.class.getMethod("getModule").invoke(type);
            return (String) module.getClass().getMethod("getName").invoke(module);
        } catch (ReflectiveOperationException e) {
            return null;
        }
    }

    private static String codeSource() {
        CodeSource source = KitFiles.class.getProtectionDomain().getCodeSource();
        return source == null || source.getLocation() == null ? "the class path" : source.getLocation().toString();
    }

    private static byte[] readAll(InputStream in) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] chunk = new byte[65536];
        for (int n; (n = in.read(chunk)) > 0; ) {
            out.write(chunk, 0, n);
        }
        return out.toByteArray();
    }

    private static byte[] sha256(byte[] bytes) {
        try {
            return MessageDigest.getInstance("SHA-256").digest(bytes);
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java platform has SHA-256", e);
        }
    }
}
