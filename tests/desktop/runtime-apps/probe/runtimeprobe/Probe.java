// Reaches JDK modules only through reflection and service loading, which jdeps cannot
// see, and prints one line per facility: the same lines under java and in a tree.
package runtimeprobe;

import java.lang.management.ManagementFactory;
import java.net.URI;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Security;
import java.util.Hashtable;
import java.util.Locale;
import java.util.Map;
import java.util.zip.ZipEntry;
import java.util.zip.ZipOutputStream;

public final class Probe {
    interface Facility {
        Object run() throws Exception;
    }

    public static void main(String[] args) throws Exception {
        line("jdbc (java.sql)", () -> call(Class.forName("java.sql.DriverManager"), "getLoginTimeout"));
        line("jdbc rowsets (java.sql.rowset)", () -> call(Class.forName("javax.sql.rowset.RowSetProvider"), "newFactory")
                .getClass().getName());
        line("jndi with dns (jdk.naming.dns)", () -> context("com.sun.jndi.dns.DnsContextFactory", "dns://127.0.0.1/example.org"));
        line("jndi with rmi (jdk.naming.rmi)", () -> context("com.sun.jndi.rmi.registry.RegistryContextFactory", "rmi://127.0.0.1:1"));
        line("scripting (java.scripting)", () -> {
            Object manager = Class.forName("javax.script.ScriptEngineManager").getConstructor().newInstance();
            return ((java.util.List<?>) call(manager, "getEngineFactories")).size() + " engine(s)";
        });
        line("zip file system (jdk.zipfs)", Probe::zipFileSystem);
        line("charset x-IBM930 (jdk.charsets)", () -> Charset.forName("x-IBM930").name());
        line("locale data (jdk.localedata)", () -> String.format(Locale.GERMANY, "%,.2f", 1234.5));
        line("compiler api (jdk.compiler)", () -> {
            Object compiler = call(Class.forName("javax.tools.ToolProvider"), "getSystemJavaCompiler");
            return compiler == null ? "none" : compiler.getClass().getName();
        });
        line("http client (java.net.http)", () -> {
            Class<?> client = Class.forName("java.net.http.HttpClient");
            return client.getMethod("version").invoke(call(client, "newHttpClient"));
        });
        line("flight recorder (jdk.jfr)", () -> call(Class.forName("jdk.jfr.FlightRecorder"), "isAvailable"));
        line("kerberos (java.security.jgss)", () -> call(Class.forName("javax.security.auth.kerberos.KerberosPrincipal")
                .getConstructor(String.class).newInstance("user@EXAMPLE.ORG"), "getRealm"));
        line("accessibility (jdk.accessibility)", () -> Class.forName("com.sun.java.accessibility.util.EventQueueMonitor",
                false, Probe.class.getClassLoader()).getModule().getName());
        line("pkcs11 provider (jdk.crypto.cryptoki)", () -> Security.getProvider("SunPKCS11").getName());
        line("xml signatures (java.xml.crypto)", () -> call(Class.forName("javax.xml.crypto.dsig.XMLSignatureFactory")
                .getMethod("getInstance", String.class).invoke(null, "DOM"), "getMechanismType"));
        line("os bean (jdk.management)", () -> ManagementFactory.getPlatformMXBean(
                Class.forName("com.sun.management.OperatingSystemMXBean").asSubclass(java.lang.management.PlatformManagedObject.class))
                != null);
        line("http server (jdk.httpserver)", () -> Class.forName("com.sun.net.httpserver.HttpServer").getModule().getName());
        System.exit(0);
    }

    private static void line(String name, Facility facility) {
        String result;
        try {
            result = String.valueOf(facility.run());
        } catch (Throwable e) {
            Throwable cause = e instanceof java.lang.reflect.InvocationTargetException && e.getCause() != null ? e.getCause() : e;
            result = "FAILED " + cause;
        }
        System.out.println(name + ": " + result);
    }

    private static Object call(Object target, String method) throws Exception {
        if (target instanceof Class<?> type) {
            return type.getMethod(method).invoke(null);
        }
        return target.getClass().getMethod(method).invoke(target);
    }

    /** The class of the initial context that the JNDI provider makes (no lookup, so no network). */
    private static Object context(String factory, String url) throws Exception {
        Hashtable<String, String> env = new Hashtable<>(Map.of("java.naming.factory.initial", factory,
                "java.naming.provider.url", url));
        Object context = Class.forName("javax.naming.spi.NamingManager").getMethod("getInitialContext", Hashtable.class)
                .invoke(null, env);
        return context.getClass().getName();
    }

    private static Object zipFileSystem() throws Exception {
        Path zip = Files.createTempFile("probe", ".zip");
        try {
            try (ZipOutputStream out = new ZipOutputStream(Files.newOutputStream(zip))) {
                out.putNextEntry(new ZipEntry("note.txt"));
                out.write("read through the zip file system".getBytes(StandardCharsets.UTF_8));
            }
            try (FileSystem fs = FileSystems.newFileSystem(URI.create("jar:" + zip.toUri()), Map.of())) {
                return Files.readString(fs.getPath("note.txt"));
            }
        } finally {
            Files.delete(zip);
        }
    }
}
