package org.example.absent;

public final class Absent {
    private Absent() {
    }
}
