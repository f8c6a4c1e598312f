package com.vyk.win.jni;

/** MP4 movie writer served by the native library "Reelwright". Times are in 100 ns units. */
public final class Reelwright {
    private Reelwright() {}

    public static native boolean testN();
    public static native boolean initializeN(String path);
    public static native boolean initializeVideoStreamN(int width, int height);
    public static native boolean initializeAudioN();
    public static native boolean addAudioTrackN(String path, long start, long end);
    /** pixels: width * height ints, 0x00RRGGBB, first row first. */
    public static native boolean addFrameN(int[] pixels, long duration);
    public static native boolean closeN();
}
