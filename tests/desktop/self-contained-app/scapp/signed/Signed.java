// A class of the signed jar.
package scapp.signed;

public final class Signed {
}
