/**
 * portula's test kit: emulated HID devices, so that software that reaches
 * devices through portula can be tested without them, in CI too.
 *
 * <p><b>How it works.</b> The devices are emulated below portula and hidapi,
 * where the kernel would be: umockdev's preload library, loaded into the JVM
 * from its start, shows the JVM a {@code /sys} and {@code /dev/hidrawN} nodes
 * of the emulator's making, and answers the JVM's reads, writes and ioctls on
 * those nodes from the emulator (the kit's native library, loaded by
 * {@link com.orvanta.testkit.HidEmulator#start()}); a small shim of the kit's,
 * preloaded before umockdev's, fills what umockdev leaves out. Everything
 * above runs unchanged: the application's own code, portula's library, the
 * real hidapi. A test plugs devices in, pushes their input reports, takes
 * what the application writes, answers its requests, and unplugs them.
 *
 * <p><b>Example.</b>
 * <pre>{@code
 * try (HidEmulator hid = HidEmulator.start()) {
 *     EmulatedDevice scale = hid.plug(DeviceSpec.builder(0x1209, 0x5ca1)
 *             .manufacturer("Orvanta Labs").product("Scale").numberedReports().build());
 *     scale.answerFeatureRequests(id -> id == 3 ? new byte[] {1, 2} : null);
 *     try (HidDevice device = Hid.open(0x1209, 0x5ca1)) {    // what the application does
 *         scale.pushInputReport(new byte[] {1, 0x10, 0x27});  // report ID 1 first
 *         System.out.println(Arrays.toString(device.read(1000)));                        // [1, 16, 39]
 *         device.write(new byte[] {2, 7});
 *         System.out.println(Arrays.toString(scale.pollOutputReport(1, TimeUnit.SECONDS))); // [2, 7]
 *         System.out.println(Arrays.toString(device.getFeatureReport(3, 16)));            // [3, 1, 2]
 *         scale.unplug();
 *         try {
 *             device.read(1000);
 *         } catch (HidException e) {
 *             System.out.println(e.reason());                                            // DEVICE_GONE
 *         }
 *     }
 * }
 * }</pre>
 *
 * <p><b>Starting the JVM.</b> The JVM must start with the kit's shim and,
 * after it, umockdev's preload (Debian's package {@code umockdev}) in
 * {@code LD_PRELOAD}: {@code java -jar portula-testkit.jar env} extracts the shim into
 * {@code ${XDG_CACHE_HOME:-~/.cache}/portula/VERSION/PLATFORM/} and prints the
 * value of {@code LD_PRELOAD} for a JVM of its own platform, such as
 * {@code export PORTULA_PRELOAD="$(java -jar portula-testkit.jar env)"}; under
 * Maven Surefire, {@code <environmentVariables><LD_PRELOAD>${env.PORTULA_PRELOAD}</LD_PRELOAD>}.
 * In a JVM started otherwise, {@link com.orvanta.testkit.HidEmulator#start()}
 * fails with an {@link java.lang.IllegalStateException} that says so. On Java
 * 24 and later, the kit's module needs native access as portula's does:
 * {@code --enable-native-access=ALL-UNNAMED} on the class path,
 * {@code com.orvanta.portula.testkit} on the module path.
 *
 * <p><b>Limits.</b> One emulator at a time per JVM. A process may hold at
 * most 50 emulated nodes open at once (umockdev's limit; an open
 * {@link com.orvanta.hid.HidDevice} holds two). Where two handles are open on
 * one device, each input report goes to one of them, where the kernel gives
 * each a copy. Answer functions run on the emulator's own thread, each within
 * {@link com.orvanta.testkit.EmulatedDevice#REQUEST_TIME_LIMIT_MILLIS}. A JVM
 * running as root opens every node, whatever its permissions.
 *
 * <p>JUnit 5: {@link com.orvanta.testkit.WithHidEmulator}.
 */
package com.orvanta.testkit;
