package com.orvanta.testkit;

import java.lang.annotation.Documented;
import java.lang.annotation.ElementType;
import java.lang.annotation.Inherited;
import java.lang.annotation.Retention;
import java.lang.annotation.RetentionPolicy;
import java.lang.annotation.Target;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.api.parallel.ResourceLock;

/**
 * JUnit 5: the test class's tests get an emulator ({@link HidEmulatorExtension})
 * as a {@link HidEmulator} parameter, under the resource lock that keeps the
 * classes using it from running at the same time.
 *
 * <pre>{@code
 * @WithHidEmulator
 * class ScaleTest {
 *     @Test
 *     void readsTheWeight(HidEmulator hid) throws Exception {
 *         EmulatedDevice scale = hid.plug(DeviceSpec.builder(0x1209, 0x5ca1).product("Scale").build());
 *         ...
 *     }
 * }
 * }</pre>
 */
@Documented
@Inherited
@Retention(RetentionPolicy.RUNTIME)
@Target(ElementType.TYPE)
@ExtendWith(HidEmulatorExtension.class)
@ResourceLock(HidEmulatorExtension.RESOURCE_LOCK)
public @interface WithHidEmulator {
}
