package com.vyk.util.jni;

/** Windows services served by the native library "Korvix". */
public final class Korvix {
    private Korvix() {}

    // Registry
    public static native String getRegistry(String root, String subKey, String valueName);
    public static native boolean putRegistry(String root, String subKey, String valueName, String value);
    public static native boolean keyExists(String root, String path);
    public static native String[] getSubkeys(String root, String subKey);

    // Files and shell
    public static native long getDiskFreeSpace(String directory);
    public static native boolean launchProcess(String file, String directory, String parameters);
    public static native String resolveLink(String linkPath);
    public static native boolean fileExists(String path);
    public static native boolean isFile(String path);
    public static native boolean isDirectory(String path);
    public static native boolean isFileLocked(String path, boolean forWriting);
    public static native boolean canWrite(String path);
    public static native void addToRecentFiles(String path);

    // Icons: size * size ARGB pixels, or null
    public static native int[] getFileIcon(String path, int size);
    public static native int[] getFileIconOnXpOrVista(String path, int size);
    public static native int[] extractIcon(String file, int index, int size);

    // Speech
    public static native void startSpeakingString(String text);
    public static native void stopSpeaking();
    public static native String getDefaultVoice();

    // Proxy lookup
    public static native String getProxyForURL(String url, String autoConfigUrl,
            boolean useSystemAutoConfigUrl, boolean autoDetect);

    // Webcam
    public static native int openWebcam();
    public static native int getImageWidth();
    public static native int getImageHeight();
    public static native int readWebcamFrame(byte[] buffer);
    public static native int closeWebcam();
    public static native boolean showVideoSourceDialog();
    public static native boolean isVideoSourceDialogAvailable();

    // QuickTime movie export
    public static native boolean convertForIPod(String source, String destination);
}
