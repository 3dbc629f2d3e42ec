// The window's texts. The title comes through commons-lang3, a runtime dependency:
// without the dependency's jar in the tree there is no window.
package org.example.sample;

import org.apache.commons.lang3.StringUtils;

final class Greeting {
    private final String[] args;

    Greeting(String[] args) {
        this.args = args.clone();
    }

    String title() {
        return StringUtils.capitalize("corvane maven sample");
    }

    String text() {
        return args.length == 0 ? "Built with mvn package." : "Opened with " + String.join(" ", args);
    }
}
