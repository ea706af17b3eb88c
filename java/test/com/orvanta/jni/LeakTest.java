package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/**
 * No failing path keeps native memory: each is called many times in a child
 * JVM whose heap is fixed and pre-touched, and its resident memory may grow
 * by a few bytes per call at most. Clean paths measure 0 to 5 bytes per call;
 * a Java array's elements or a string's characters kept per call cost 32 or
 * more. -Dportula.leak.calls sets the calls per path (fewer under qemu),
 * -Dportula.leak.rounds how often each is measured (the least counts).
 */
class LeakTest {
    static final long CALLS = Long.getLong("portula.leak.calls", 200_000);
    static final int ROUNDS = Integer.getInteger("portula.leak.rounds", 1);
    static final double BOUND = 16.0;   // bytes per call

    @Test
    void failingPathsKeepNoNativeMemory() throws Exception {
        // AddressSanitizer's quarantine would hold every freed block
        String asan = System.getenv().getOrDefault("ASAN_OPTIONS",
                "detect_leaks=0:handle_segv=0:allow_user_segv_handler=1:abort_on_error=1");
        String out = Child.run(Map.of("ASAN_OPTIONS", asan + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0"),
                List.of("-Xms64m", "-Xmx64m", "-XX:+AlwaysPreTouch"), Child.classPath(Child.classPathEntry("portula.jar")),
                LeakProbe.class.getName(), Long.toString(CALLS), Integer.toString(ROUNDS));
        int paths = 0;
        for (String line : out.split("\n")) {
            if (line.startsWith("GROWTH ")) {
                String[] words = line.split(" ");
                System.out.println("LeakTest: " + words[1] + " " + words[2] + " bytes per call over " + CALLS);
                assertTrue(Double.parseDouble(words[2]) <= BOUND, line);
                paths++;
            }
        }
        assertTrue(out.contains("PATHS " + paths + "\n"), out);
    }
}
