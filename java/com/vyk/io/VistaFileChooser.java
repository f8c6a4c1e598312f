package com.vyk.io;

import java.awt.Component;

/** The state of a file chooser that the native library "Pickora" reads and answers. */
public class VistaFileChooser {
    private String currentDirectory;
    private String selectedShortFileName;
    private String dialogTitle;
    private boolean multiSelectionEnabled;
    private boolean directorySelectionEnabled;
    private int fileFilterIndex;
    private String[][] fileFilters;
    private String fileFilterString;
    private String[] selectedFiles;

    /** Shows the native open dialog owned by parent (may be null); 0 when files were chosen. */
    public native int handleOpenDialog(Component parent);

    /** Shows the native save dialog owned by parent (may be null); 0 when files were chosen. */
    public native int handleSaveDialog(Component parent);

    public String getCurrentDirectoryString() { return currentDirectory; }
    public String getSelectedShortFileName() { return selectedShortFileName; }
    public String getDialogTitle() { return dialogTitle; }
    public boolean isMultiSelectionEnabled() { return multiSelectionEnabled; }
    public boolean isDirectorySelectionEnabled() { return directorySelectionEnabled; }
    public int getFileFilterIndex() { return fileFilterIndex; }
    public String[][] getFileFilters() { return fileFilters; }
    public String getFileFilterString() { return fileFilterString; }

    public void setSelectedFiles(String[] files) { selectedFiles = files; }
    public String[] getSelectedFiles() { return selectedFiles; }
}
