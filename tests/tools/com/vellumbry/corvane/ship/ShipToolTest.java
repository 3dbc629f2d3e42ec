// The shipping program's pure parts against written-out expectations, one class per
// concern: the package's files, the tree's record and the contract, how jars' Class-Path
// entries are followed, the runtime's modules, and the repository's files.
package com.vellumbry.corvane.ship;

import java.io.IOException;

public final class ShipToolTest {
    private ShipToolTest() {
    }

    public static void main(String[] args) throws IOException {
        PackageFilesTest.run();
        TreeRecordTest.run();
        ClassPathTest.run();
        RuntimeModulesTest.run();
        RepositoryTest.run();
        int failures = Checks.failures();
        System.out.println(failures == 0 ? "all checks passed" : failures + " check(s) failed");
        System.exit(failures == 0 ? 0 : 1);
    }
}
