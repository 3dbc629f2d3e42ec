// What every goal shares: the project, the command to run and the application's name.
package com.vellumbry.corvane.maven;

import java.io.File;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.project.MavenProject;

abstract class ShipMojo extends AbstractMojo {
    @Parameter(defaultValue = "${project}", readonly = true, required = true)
    MavenProject project;

    /** The corvane-ship command: a path, or a name looked up on PATH. */
    @Parameter(property = "corvane.shipCommand", defaultValue = "corvane-ship")
    String shipCommand;

    /** The application's and its package's name (lower case letters, digits, + - .). */
    @Parameter(property = "corvane.name", defaultValue = "${project.artifactId}")
    String name;

    /** Leaves the goal out. */
    @Parameter(property = "corvane.skip", defaultValue = "false")
    boolean skip;

    ShipCommand command() {
        return new ShipCommand(shipCommand, getLog());
    }

    File buildDirectory() {
        return new File(project.getBuild().getDirectory());
    }
}
