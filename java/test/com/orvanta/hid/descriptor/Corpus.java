package com.orvanta.hid.descriptor;

import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * The descriptors of real devices in the shared corpus (-Dportula.hid.descriptors, set by
 * java/test/CMakeLists.txt), each with the layout an independent parser gave it. Where the
 * directory is absent, as in a user's clone, the tests that need it are skipped, saying so.
 */
final class Corpus {
    private Corpus() {
    }

    static Path directory() {
        String property = System.getProperty("portula.hid.descriptors");
        Path dir = property == null ? null : Paths.get(property);
        assumeTrue(dir != null && Files.isDirectory(dir),
                "no descriptor corpus at " + property + " (-Dportula.hid.descriptors): skipped");
        return dir;
    }

    /** @return the names of the descriptors, without .hid, sorted */
    static List<String> names() {
        String listed = System.getProperty("portula.hid.descriptors.names", "");
        if (!listed.isEmpty()) {   // listed by the build: a 32-bit JVM under qemu may not list the directory
            directory();
            return java.util.Arrays.stream(listed.split(",")).map(n -> n.substring(0, n.length() - 4)).sorted()
                    .collect(Collectors.toList());
        }
        try (Stream<Path> files = Files.list(directory())) {
            return files.map(p -> p.getFileName().toString()).filter(n -> n.endsWith(".hid"))
                    .map(n -> n.substring(0, n.length() - 4)).sorted().collect(Collectors.toList());
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /**
     * @return every descriptor's name, or every Nth under -Dportula.corpus.every=N (qemu runs
     *     compare fewer layouts: each JVM instruction costs it twenty)
     */
    static List<String> sample() {
        int every = Integer.getInteger("portula.corpus.every", 1);
        List<String> names = names();
        return java.util.stream.IntStream.range(0, names.size()).filter(i -> i % every == 0).mapToObj(names::get)
                .collect(Collectors.toList());
    }

    /** @return as {@link #names()}, or none where the corpus is absent */
    static List<String> namesIfPresent() {
        String property = System.getProperty("portula.hid.descriptors");
        return property != null && Files.isDirectory(Paths.get(property)) ? names() : java.util.Collections.emptyList();
    }

    /** @return the bytes of the recording's {@code R: N b0 b1 ...} line */
    static byte[] descriptor(String name) {
        for (String line : lines(name + ".hid")) {
            if (line.startsWith("R:")) {
                String[] words = line.substring(2).trim().split("\\s+");
                byte[] bytes = new byte[words.length - 1];
                for (int i = 0; i < bytes.length; i++) {
                    bytes[i] = (byte) Integer.parseInt(words[i + 1], 16);
                }
                if (Integer.parseInt(words[0]) != bytes.length) {
                    throw new IllegalStateException(name + ": R: says " + words[0] + " bytes, has " + bytes.length);
                }
                return bytes;
            }
        }
        throw new IllegalStateException(name + ".hid has no R: line");
    }

    static List<String> lines(String file) {
        try {
            return Files.readAllLines(directory().resolve(file), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }
}
