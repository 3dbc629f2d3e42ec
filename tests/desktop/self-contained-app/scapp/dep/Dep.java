// A class of the library that the signed jar names by absolute path.
package scapp.dep;

public final class Dep {
}
