// The rpm half of a repository folder (<repo>/rpm/): the newest versions of each
// package, repodata/ made by createrepo_c, repomd.xml's detached signature and the
// publisher's public key for dnf's gpgkey.
package com.vellumbry.corvane.ship;

import java.nio.file.Path;
import java.util.List;

final class RpmRepository implements Repository<RpmHeader> {
    @Override
    public Names names() {
        return new Names("rpm", "", ".rpm", "createrepo_c", "createrepo-c", "a new version or release", "the rpm repository");
    }

    @Override
    public List<Path> files(PublishOptions options) {
        return options.rpms();
    }

    @Override
    public RpmHeader read(Path file, Path scratch) {
        return RpmHeader.read(file);
    }

    @Override
    public String target(RpmHeader header) {
        return header.fileName();
    }

    @Override
    public String label(RpmHeader header) {
        return header.fileName();
    }

    /** Per name and architecture. */
    @Override
    public String group(RpmHeader header) {
        return header.name() + "." + header.arch();
    }

    @Override
    public int compare(RpmHeader a, RpmHeader b) {
        return Versions.rpm(a.epoch(), a.version(), a.release(), b.epoch(), b.version(), b.release());
    }

    @Override
    public void index(Work work, List<Stored<RpmHeader>> kept) {
        // --update reuses the metadata of the packages that did not change.
        Exec.output(List.of("createrepo_c", "--update", "--quiet", work.dir().toString()), work.scratch(), "createrepo_c failed");
    }

    /** repomd.xml.asc, and the public keys as dnf's gpgkey takes them. */
    @Override
    public void sign(Work work) {
        Path repodata = work.dir().resolve("repodata");
        work.signing().detachSign(repodata.resolve("repomd.xml"), repodata.resolve("repomd.xml.asc"), work.scratch());
        work.signing().exportPublic(true, work.dir().resolve("RPM-GPG-KEY-" + work.options().name()), work.scratch());
    }
}
