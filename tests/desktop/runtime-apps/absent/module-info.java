// Stands in at compile time for a module the JDK lacks (as javafx.fxml or
// java.activation are to a plain JDK); never packed into a jar.
module org.example.absent {
    exports org.example.absent;
}
