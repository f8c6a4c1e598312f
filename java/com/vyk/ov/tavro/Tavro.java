package com.vyk.ov.tavro;

/** The application's main class, started by the native launcher. */
public final class Tavro {
    private Tavro() {}

    public static void main(String[] args) {
        System.out.println("Tavro started with " + args.length + " argument(s)");
    }
}
