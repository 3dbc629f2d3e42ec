// A class of the library that the application jar names by absolute path.
package scapp.abs;

public final class Abs {
}
