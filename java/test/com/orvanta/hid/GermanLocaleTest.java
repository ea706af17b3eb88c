package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.jni.Child;
import com.orvanta.testbed.EmulatedHid;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/**
 * Reasons come from the system's error number, not from hidapi's text: child
 * JVMs in a German locale (LANG=de_DE.UTF-8, no LC_ALL or LC_MESSAGES) meet a
 * node they may not open, and devices unplugged under a waiting read, a
 * write, a request and a listener. Each first shows that the C library speaks
 * German there, so that it cannot pass without testing anything.
 */
class GermanLocaleTest extends EmulatedDevices {
    static Map<String, String> german() {
        Map<String, String> env = new HashMap<>();
        env.put("LANG", "de_DE.UTF-8");
        env.put("LC_ALL", null);
        env.put("LC_MESSAGES", null);
        return env;
    }

    static void assertGerman(String out) {
        assertTrue(out.contains("STRERROR "), out);
        System.out.println("GermanLocaleTest: the child's strerror(EIO) is "
                + out.substring(out.indexOf("STRERROR ") + 9).split("\n")[0]);
        assertFalse(out.contains("STRERROR Input/output error"),
                "the child's C library speaks English: run scripts/setup.sh, which makes the de_DE.UTF-8 locale\n"
                        + out);
    }

    @Test
    void reasonsComeFromErrnoInAnyLocale() throws Exception {
        String out = Child.run(german(), List.of("-Xcheck:jni"), Child.classPath(Child.classPathEntry("portula.jar")),
                GermanLocaleProbe.class.getName(), "unplug");
        assertGerman(out);
        for (String expected : new String[] {"READ DEVICE_GONE", "TIMED READ DEVICE_GONE", "WRITE DEVICE_GONE",
            "FEATURE DEVICE_GONE", "LISTENER removed"}) {
            assertTrue(out.contains(expected + "\n"), expected + " in\n" + out);
        }
    }

    @Test
    void permissionDeniedInAnyLocale() throws Exception {
        EmulatedHid.Device locked = emulator.device(VID, 0xec41).product("Locked").nodeMode(0600).add();
        emulator.share();
        Map<String, String> env = german();
        env.put("UMOCKDEV_DIR", emulator.rootDir());
        String out = Child.run(List.of("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"), env,
                List.of("-Xcheck:jni"), Child.classPath(Child.classPathEntry("portula.jar")),
                GermanLocaleProbe.class.getName(), "permission", locked.path());
        assertGerman(out);
        assertTrue(out.contains("OPEN PERMISSION_DENIED\n"), out);
    }
}
