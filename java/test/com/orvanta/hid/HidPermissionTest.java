package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.jni.Child;
import com.orvanta.testbed.EmulatedHid;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/**
 * Permission denied as a user meets it: root opens any node whatever its
 * mode, so a child JVM runs as nobody, under this JVM's emulator, and tries a
 * node only root may open.
 */
class HidPermissionTest extends EmulatedDevices {
    @Test
    void permissionDeniedNamesThePathAndTheUdevRule() throws Exception {
        EmulatedHid.Device locked = emulator.device(VID, 0xec40).manufacturer("Orvanta Labs").product("Locked")
                .nodeMode(0600).add();
        emulator.share();
        String out = Child.run(List.of("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"),
                Map.of("UMOCKDEV_DIR", emulator.rootDir()), List.of("-Xcheck:jni"),
                Child.classPath(Child.classPathEntry("portula.jar")), PermissionProbe.class.getName(),
                locked.path());
        assertTrue(out.contains("LISTED 1"), out);
        assertTrue(out.contains("REASON PERMISSION_DENIED"), out);
        assertTrue(out.contains("MESSAGE permission denied: this user may not open " + locked.path() + "."), out);
        assertTrue(out.contains("\"Access for a non-root user\""), out);
        assertTrue(out.contains("KERNEL==\"hidraw*\", ATTRS{idVendor}==\"1209\", ATTRS{idProduct}==\"ec40\","
                + " TAG+=\"uaccess\""), out);
        assertTrue(out.contains("HIDAPI Failed to open a device with path '" + locked.path()
                + "': Permission denied"), out);
    }
}
