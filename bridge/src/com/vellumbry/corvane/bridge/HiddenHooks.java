package com.vellumbry.corvane.bridge;

import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Set;

/**
 * Keeps the launcher's VM hooks out of RuntimeMXBean.getInputArguments(). The VM lists
 * every option it was created with, the hooks' bare words "vfprintf", "exit" and "abort"
 * among them; an application that restarts itself as "java <input arguments> -cp ... Main"
 * would hand them to java, which takes the first for its main class. The management
 * code keeps the list it read from the VM, so the list it keeps is the one without them.
 * Needs java.management's sun.management opened to the class path (the tree's options
 * file does that); without it the list stays as the VM gives it.
 */
final class HiddenHooks {

    private static final Set<String> HOOKS = Set.of("vfprintf", "exit", "abort");

    private HiddenHooks() {
    }

    static void hide() {
        if (ModuleLayer.boot().findModule("java.management").isEmpty()) {
            return;
        }
        try {
            Class<?> helper = Class.forName("sun.management.ManagementFactoryHelper");
            Object vm = helper.getMethod("getVMManagement").invoke(null);
            Method read = Class.forName("sun.management.VMManagement").getMethod("getVmArguments");
            List<?> arguments = (List<?>) read.invoke(vm);
            List<String> kept = new ArrayList<>();
            for (Object argument : arguments) {
                if (!HOOKS.contains(argument)) {
                    kept.add((String) argument);
                }
            }
            if (kept.size() == arguments.size()) {
                return;
            }
            Field cached = vm.getClass().getDeclaredField("vmArgs");
            cached.setAccessible(true);
            cached.set(vm, Collections.unmodifiableList(kept));
        } catch (ReflectiveOperationException | RuntimeException | LinkageError e) {
            // Not opened, or another JDK's management code: the list keeps the hooks.
        }
    }
}
