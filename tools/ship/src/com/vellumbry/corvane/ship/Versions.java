// Version order of Debian (dpkg's) and rpm (rpmvercmp's): which versions of a package
// a repository keeps. Pure functions.
package com.vellumbry.corvane.ship;

final class Versions {
    private Versions() {
    }

    /** dpkg --compare-versions: epoch, then upstream version, then revision. */
    static int debian(String a, String b) {
        int epochs = Long.compare(epoch(a), epoch(b));
        if (epochs != 0) {
            return epochs;
        }
        String[] x = upstreamAndRevision(a);
        String[] y = upstreamAndRevision(b);
        int upstream = debianPart(x[0], y[0]);
        return upstream != 0 ? upstream : debianPart(x[1], y[1]);
    }

    /** rpm's order of (epoch, version, release); a missing epoch is 0. */
    static int rpm(long epochA, String versionA, String releaseA, long epochB, String versionB, String releaseB) {
        int epochs = Long.compare(epochA, epochB);
        if (epochs != 0) {
            return epochs;
        }
        int version = rpmPart(versionA, versionB);
        return version != 0 ? version : rpmPart(releaseA, releaseB);
    }

    private static long epoch(String version) {
        int colon = version.indexOf(':');
        return colon < 0 ? 0 : Long.parseLong(version.substring(0, colon));
    }

    private static String[] upstreamAndRevision(String version) {
        String rest = version.substring(version.indexOf(':') + 1);
        int dash = rest.lastIndexOf('-');
        return dash < 0 ? new String[] {rest, ""} : new String[] {rest.substring(0, dash), rest.substring(dash + 1)};
    }

    /** dpkg's verrevcmp: non-digit runs by a character order where '~' sorts first, then numbers. */
    private static int debianPart(String a, String b) {
        int i = 0;
        int j = 0;
        while (i < a.length() || j < b.length()) {
            while ((i < a.length() && !digit(a, i)) || (j < b.length() && !digit(b, j))) {
                int x = order(a, i++);
                int y = order(b, j++);
                if (x != y) {
                    return Integer.compare(x, y);
                }
            }
            i = skipZeros(a, i);
            j = skipZeros(b, j);
            int firstDifference = 0;
            while (digit(a, i) && digit(b, j)) {
                if (firstDifference == 0) {
                    firstDifference = Integer.compare(a.charAt(i), b.charAt(j));
                }
                i++;
                j++;
            }
            if (digit(a, i)) {
                return 1;
            }
            if (digit(b, j)) {
                return -1;
            }
            if (firstDifference != 0) {
                return firstDifference;
            }
        }
        return 0;
    }

    private static int order(String s, int i) {
        if (i >= s.length() || digit(s, i)) {
            return 0;
        }
        char c = s.charAt(i);
        return isAsciiLetter(c) ? c : c == '~' ? -1 : c + 256;
    }

    /** rpmvercmp: alphanumeric segments, numbers above letters, '~' before and '^' after the end. */
    private static int rpmPart(String a, String b) {
        int i = 0;
        int j = 0;
        while (i < a.length() || j < b.length()) {
            i = skipSeparators(a, i);
            j = skipSeparators(b, j);
            char x = i < a.length() ? a.charAt(i) : 0;
            char y = j < b.length() ? b.charAt(j) : 0;
            if (x == '~' || y == '~') {
                if (x != y) {
                    return x == '~' ? -1 : 1;
                }
                i++;
                j++;
                continue;
            }
            if (x == '^' || y == '^') {
                if (x == y) {
                    i++;
                    j++;
                    continue;
                }
                return x == 0 ? -1 : y == 0 ? 1 : x == '^' ? -1 : 1;
            }
            if (x == 0 || y == 0) {
                break;
            }
            boolean numeric = x >= '0' && x <= '9';
            int endA = segmentEnd(a, i, numeric);
            int endB = segmentEnd(b, j, numeric);
            if (endB == j) {
                // A number against letters: the number is newer.
                return numeric ? 1 : -1;
            }
            String segA = a.substring(numeric ? skipZeros(a, i) : i, endA);
            String segB = b.substring(numeric ? skipZeros(b, j) : j, endB);
            int compared = numeric && segA.length() != segB.length() ? Integer.compare(segA.length(), segB.length())
                    : segA.compareTo(segB);
            if (compared != 0) {
                return Integer.signum(compared);
            }
            i = endA;
            j = endB;
        }
        boolean aLeft = i < a.length();
        boolean bLeft = j < b.length();
        return aLeft == bLeft ? 0 : aLeft ? 1 : -1;
    }

    private static int skipSeparators(String s, int i) {
        while (i < s.length() && !isAsciiLetterOrDigit(s.charAt(i)) && s.charAt(i) != '~' && s.charAt(i) != '^') {
            i++;
        }
        return i;
    }

    private static int segmentEnd(String s, int i, boolean numeric) {
        while (i < s.length() && (numeric ? digit(s, i) : isAsciiLetter(s.charAt(i)))) {
            i++;
        }
        return i;
    }

    private static int skipZeros(String s, int i) {
        while (i < s.length() && s.charAt(i) == '0') {
            i++;
        }
        return i;
    }

    private static boolean digit(String s, int i) {
        return i < s.length() && s.charAt(i) >= '0' && s.charAt(i) <= '9';
    }

    private static boolean isAsciiLetter(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    }

    private static boolean isAsciiLetterOrDigit(char c) {
        return isAsciiLetter(c) || (c >= '0' && c <= '9');
    }
}
