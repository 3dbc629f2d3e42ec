// A library jar that is an explicit module requiring one the JDK lacks: on the
// class path java takes it as a plain jar.
module modlib {
    requires java.sql;
    requires org.example.absent;
    exports modlib;
}
