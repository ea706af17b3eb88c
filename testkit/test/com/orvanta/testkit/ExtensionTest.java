package com.orvanta.testkit;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.platform.engine.discovery.DiscoverySelectors.selectClass;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.parallel.ResourceLock;
import org.junit.platform.launcher.LauncherDiscoveryRequest;
import org.junit.platform.launcher.core.LauncherDiscoveryRequestBuilder;
import org.junit.platform.launcher.core.LauncherFactory;
import org.junit.platform.launcher.listeners.SummaryGeneratingListener;
import org.junit.platform.launcher.listeners.TestExecutionSummary;

/**
 * The JUnit extension, run on classes of its own (named so that the suite's
 * scan leaves them out) by a launcher inside this test.
 */
@ResourceLock(HidEmulatorExtension.RESOURCE_LOCK)
class ExtensionTest {
    static final List<String> EVENTS = Collections.synchronizedList(new ArrayList<>());
    static HidDevice leftOpen;

    private static TestExecutionSummary run(Map<String, String> configuration, Class<?>... classes) {
        LauncherDiscoveryRequestBuilder request = LauncherDiscoveryRequestBuilder.request();
        for (Class<?> type : classes) {
            request.selectors(selectClass(type));
        }
        LauncherDiscoveryRequest built = request.configurationParameters(configuration).build();
        SummaryGeneratingListener listener = new SummaryGeneratingListener();
        LauncherFactory.create().execute(built, listener);
        return listener.getSummary();
    }

    @Test
    void aDeviceLeftOpenIsClosedAndFailsTheTestThatLeftIt() {
        EVENTS.clear();
        TestExecutionSummary summary = run(Map.of(), LeavesOpen.class);
        assertEquals(2, summary.getTestsSucceededCount() + summary.getTestsFailedCount());
        assertEquals(1, summary.getTestsFailedCount());
        TestExecutionSummary.Failure failure = summary.getFailures().get(0);
        assertEquals("leavesItOpen(HidEmulator)", failure.getTestIdentifier().getDisplayName());
        assertEquals("the test left 1 portula device open, closed now: /dev/hidraw1 1209:0061 USB - \"Left open\""
                + " serial -. Close every HidDevice opened, with try-with-resources for example: one left open can"
                + " make a later test hang", failure.getException().getMessage());
        assertFalse(leftOpen.isOpen());
        // the class's device stayed for both tests, the test's own went after each (in either order)
        assertEquals(List.of("1 [/dev/hidraw0] /dev/hidraw1", "2 [/dev/hidraw0] /dev/hidraw1"),
                EVENTS.stream().sorted().collect(Collectors.toList()));
    }

    @Test
    void classesUsingTheEmulatorRunOneAfterAnotherInParallelMode() {
        EVENTS.clear();
        TestExecutionSummary summary = run(Map.of("junit.jupiter.execution.parallel.enabled", "true",
                "junit.jupiter.execution.parallel.mode.default", "concurrent",
                "junit.jupiter.execution.parallel.mode.classes.default", "concurrent"), First.class, Second.class);
        assertEquals(4, summary.getTestsSucceededCount(), summary.getFailures().toString());
        // each test's start and end, with no other test of the emulator between them
        assertEquals(8, EVENTS.size(), EVENTS.toString());
        for (int i = 0; i < EVENTS.size(); i += 2) {
            assertTrue(EVENTS.get(i).startsWith("start "), EVENTS.toString());
            assertEquals(EVENTS.get(i).replace("start", "end"), EVENTS.get(i + 1), EVENTS.toString());
        }
    }

    @WithHidEmulator
    static class LeavesOpen {
        @BeforeAll
        static void plugTheClassDevice(HidEmulator hid) {
            hid.plug(DeviceSpec.builder(0x1209, 0x0060).product("Class").build());
        }

        @Test
        void leavesItOpen(HidEmulator hid) throws Exception {
            EmulatedDevice device = hid.plug(DeviceSpec.builder(0x1209, 0x0061).product("Left open").build());
            leftOpen = Hid.open(device.path());
            EVENTS.add("1 " + paths() + " " + device.path());
        }

        @Test
        void closesIt(HidEmulator hid) throws Exception {
            EmulatedDevice device = hid.plug(DeviceSpec.builder(0x1209, 0x0062).build());
            HidDevice open = Hid.open(device.path());
            EVENTS.add("2 " + paths() + " " + device.path());
            open.close();
        }

        /** Where the class's device is. */
        private static List<String> paths() throws Exception {
            List<String> paths = new ArrayList<>();
            Hid.devices(0x1209, 0x0060).forEach(d -> paths.add(d.path()));
            return paths;
        }
    }

    @WithHidEmulator
    static class First {
        @Test
        void one(HidEmulator hid) throws Exception {
            work(hid, "First.one");
        }

        @Test
        void two(HidEmulator hid) throws Exception {
            work(hid, "First.two");
        }
    }

    @WithHidEmulator
    static class Second {
        @Test
        void one(HidEmulator hid) throws Exception {
            work(hid, "Second.one");
        }

        @Test
        void two(HidEmulator hid) throws Exception {
            work(hid, "Second.two");
        }
    }

    static void work(HidEmulator hid, String name) throws Exception {
        EVENTS.add("start " + name);
        hid.plug(DeviceSpec.builder(0x1209, 0x0070).build());
        Thread.sleep(200);
        EVENTS.add("end " + name);
    }
}
