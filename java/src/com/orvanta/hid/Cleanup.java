package com.orvanta.hid;

import java.lang.ref.PhantomReference;
import java.lang.ref.ReferenceQueue;
import java.lang.reflect.Method;
import java.util.Collections;
import java.util.IdentityHashMap;
import java.util.Set;
import java.util.concurrent.ThreadFactory;

/**
 * Runs an action once its owner has become unreachable, or earlier, once, when
 * asked. java.lang.ref.Cleaner where the VM has it (Java 9 and later); on
 * Java 8 a daemon thread over phantom references does the same.
 */
final class Cleanup {
    /** The registration of one action. */
    interface Cleanable {
        /** Runs the action now, unless it ran already; it will not run again. */
        void clean();
    }

    private static final ThreadFactory THREADS = task -> {
        Thread t = new Thread(task, "portula-cleaner");
        t.setDaemon(true);
        return t;
    };
    private static final Registrar REGISTRAR = registrar();

    private Cleanup() {
    }

    static Cleanable register(Object owner, Runnable action) {
        return REGISTRAR.register(owner, action);
    }

    private interface Registrar {
        Cleanable register(Object owner, Runnable action);
    }

    private static Registrar registrar() {
        try {
            Class<?> cleanerClass = Class.forName("java.lang.ref.Cleaner");
            Object cleaner = cleanerClass.getMethod("create", ThreadFactory.class).invoke(null, THREADS);
            Method register = cleanerClass.getMethod("register", Object.class, Runnable.class);
            Method clean = Class.forName("java.lang.ref.Cleaner$Cleanable").getMethod("clean");
            return (owner, action) -> {
                Object cleanable = invoke(register, cleaner, owner, action);
                return () -> invoke(clean, cleanable);
            };
        } catch (ReflectiveOperationException | RuntimeException java8) {
            return new PhantomRegistrar();
        }
    }

    private static Object invoke(Method method, Object target, Object... args) {
        try {
            return method.invoke(target, args);
        } catch (ReflectiveOperationException e) {
            throw new IllegalStateException("java.lang.ref.Cleaner failed", e);
        }
    }

    /** Java 8: one daemon thread runs the actions of owners that became unreachable. */
    private static final class PhantomRegistrar implements Registrar {
        private final ReferenceQueue<Object> queue = new ReferenceQueue<>();
        // the references themselves must stay reachable until they are cleaned
        private final Set<Entry> live = Collections.synchronizedSet(Collections.newSetFromMap(new IdentityHashMap<>()));

        PhantomRegistrar() {
            THREADS.newThread(() -> {
                while (true) {
                    try {
                        ((Entry) queue.remove()).clean();
                    } catch (InterruptedException e) {
                        return;
                    } catch (RuntimeException e) {
                        // an action's own failure; the next owner still gets its turn
                    }
                }
            }).start();
        }

        @Override
        public Cleanable register(Object owner, Runnable action) {
            Entry entry = new Entry(owner, queue, action);
            live.add(entry);
            return entry;
        }

        private final class Entry extends PhantomReference<Object> implements Cleanable {
            private final Runnable action;

            Entry(Object owner, ReferenceQueue<Object> queue, Runnable action) {
                super(owner, queue);
                this.action = action;
            }

            @Override
            public void clean() {
                if (live.remove(this)) {
                    clear();
                    action.run();
                }
            }
        }
    }
}
