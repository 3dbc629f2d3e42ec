// A class of the library that the application jar names by a relative path out of its folder.
package scapp.rel;

public final class Rel {
}
