package modlib;

import java.sql.JDBCType;

public final class Types {
    private Types() {
    }

    public static String name(int code) {
        return JDBCType.valueOf(code).getName();
    }
}
