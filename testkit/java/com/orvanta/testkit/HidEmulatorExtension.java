package com.orvanta.testkit;

import com.orvanta.hid.internal.OpenDevices;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import org.junit.jupiter.api.extension.AfterAllCallback;
import org.junit.jupiter.api.extension.AfterEachCallback;
import org.junit.jupiter.api.extension.BeforeAllCallback;
import org.junit.jupiter.api.extension.BeforeEachCallback;
import org.junit.jupiter.api.extension.ExtensionContext;
import org.junit.jupiter.api.extension.ParameterContext;
import org.junit.jupiter.api.extension.ParameterResolver;

/**
 * JUnit 5: gives each test class an emulator, as a {@link HidEmulator}
 * parameter of its tests (and of its constructor, {@code @BeforeAll},
 * {@code @BeforeEach} and {@code @AfterEach} methods), and removes each
 * test's devices after it. Use it through {@link WithHidEmulator}, which also
 * takes the resource lock below.
 *
 * <ul>
 * <li><b>Serialised.</b> The emulator is one per JVM, so test classes that use
 * it must not run at the same time: {@link WithHidEmulator} holds the JUnit
 * resource lock {@link #RESOURCE_LOCK} for each class (with
 * {@code @ExtendWith} alone, add {@code @ResourceLock(RESOURCE_LOCK)} to the
 * class). Under JUnit's parallel execution such classes, and their tests, run
 * one after another; the rest run as configured.</li>
 * <li><b>Devices.</b> After each test, the devices it plugged in are removed;
 * devices plugged in by {@code @BeforeAll} stay until the class is done. The
 * emulator ends after the class.</li>
 * <li><b>Open devices.</b> After each test (and after the class), a portula
 * {@link com.orvanta.hid.HidDevice} still open on a device being removed is
 * closed, and the test fails naming it: a device left open could make a
 * later test hang. Close each device the application opens, with
 * try-with-resources for example.</li>
 * </ul>
 */
public final class HidEmulatorExtension
        implements BeforeAllCallback, AfterAllCallback, BeforeEachCallback, AfterEachCallback, ParameterResolver {
    /** The resource lock that serialises the test classes using the emulator. */
    public static final String RESOURCE_LOCK = "com.orvanta.testkit.HidEmulator";
    private static final ExtensionContext.Namespace NAMESPACE = ExtensionContext.Namespace.create(HidEmulatorExtension.class);

    /** Creates the extension; JUnit does, for {@link WithHidEmulator}. */
    public HidEmulatorExtension() {
    }

    /** Starts the class's emulator, unless an enclosing class has one. */
    @Override
    public void beforeAll(ExtensionContext context) {
        emulator(context);
    }

    /** Notes the devices plugged in before the test. */
    @Override
    public void beforeEach(ExtensionContext context) {
        context.getStore(NAMESPACE).put(Before.class, new Before(emulator(context).devices()));
    }

    /** Removes the devices the test plugged in, failing it if one was left open. */
    @Override
    public void afterEach(ExtensionContext context) {
        List<EmulatedDevice> plugged = new ArrayList<>(emulator(context).devices());
        plugged.removeAll(context.getStore(NAMESPACE).get(Before.class, Before.class).devices);
        removeAll(plugged, "the test");
    }

    /** Removes the devices left from {@code @BeforeAll}, failing the class if one was left open. */
    @Override
    public void afterAll(ExtensionContext context) {
        // the store shows an enclosing class's holder too: only the class that started it cleans up
        Holder holder = context.getStore(NAMESPACE).get(Holder.class, Holder.class);
        if (holder != null && holder.owner.equals(context.getUniqueId())) {
            removeAll(holder.emulator.devices(), "the class");
        }
    }

    /** @return whether the parameter is a {@link HidEmulator} */
    @Override
    public boolean supportsParameter(ParameterContext parameter, ExtensionContext context) {
        return parameter.getParameter().getType() == HidEmulator.class;
    }

    /** @return the test class's emulator */
    @Override
    public Object resolveParameter(ParameterContext parameter, ExtensionContext context) {
        return emulator(context);
    }

    /** The emulator of the class (or an enclosing class); started in the class's store, which closes it. */
    private static HidEmulator emulator(ExtensionContext context) {
        ExtensionContext classContext = context;
        while (classContext.getTestMethod().isPresent() && classContext.getParent().isPresent()) {
            classContext = classContext.getParent().get();
        }
        ExtensionContext.Store store = classContext.getStore(NAMESPACE);
        Holder holder = store.get(Holder.class, Holder.class);
        if (holder == null) {
            holder = new Holder(HidEmulator.start(), classContext.getUniqueId());
            store.put(Holder.class, holder);
        }
        return holder.emulator;
    }

    private static void removeAll(List<EmulatedDevice> devices, String who) {
        Map<String, EmulatedDevice> byPath = new TreeMap<>();
        for (EmulatedDevice device : devices) {
            byPath.put(device.path(), device);
        }
        List<String> leftOpen = new ArrayList<>();
        for (String path : OpenDevices.closeAt(byPath.keySet())) {
            leftOpen.add(byPath.get(path).toString());
        }
        for (EmulatedDevice device : devices) {
            device.remove();
        }
        if (!leftOpen.isEmpty()) {
            throw new AssertionError(who + " left " + leftOpen.size() + " portula device" + (leftOpen.size() == 1
                    ? "" : "s") + " open, closed now: " + String.join("; ", leftOpen) + ". Close every HidDevice"
                    + " opened, with try-with-resources for example: one left open can make a later test hang");
        }
    }

    /** The devices present before a test. */
    private static final class Before {
        final List<EmulatedDevice> devices;

        Before(List<EmulatedDevice> devices) {
            this.devices = devices;
        }
    }

    /** Closes the emulator when JUnit closes the class's store, after its afterAll callbacks. */
    private static final class Holder implements ExtensionContext.Store.CloseableResource {
        final HidEmulator emulator;
        final String owner;   // the class context that started it

        Holder(HidEmulator emulator, String owner) {
            this.emulator = emulator;
            this.owner = owner;
        }

        @Override
        public void close() {
            emulator.close();
        }
    }
}
