// The webcam of the Java side: one capture window of the platform's Video for Windows
// capture, connected to driver 0, delivering stills into one frame buffer (module-wide, as
// there is one webcam per process). The video-source dialog shares the capture window field.
#pragma once

#include <windows.h>

#include <jni.h>

namespace korvix {

// 0 when the webcam is open and frames can be read, -1 otherwise.
int openWebcam();
// Grabs one frame and copies the frame buffer to the start of the array: 0, or -1 with
// nothing copied.
int readWebcamFrame(JNIEnv* env, jbyteArray buffer);
int closeWebcam();
// The frame buffer's size: -1 until an open chose one, then the last chosen.
int webcamImageWidth();
int webcamImageHeight();

// --- what the video-source dialog shares ----------------------------------------------------
// Capture-window messages are ANSI and go only to a live window (0 otherwise).
LRESULT sendCaptureMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A hidden top-level capture window on the calling thread, or null.
HWND createCaptureWindow();
// The capture window field: the open webcam's, or the shown dialog's.
HWND captureWindow();
// False when the webcam's state could not be made: the field holds nothing.
bool setCaptureWindow(HWND window);
// Ends an open webcam whatever its driver answers, so the field can be taken over and no
// window, driver connection, decompressor or imaging session is left unreachable.
void abandonWebcam();

bool isVideoSourceDialogAvailable();
// Shows the driver's video-source dialog and returns when the user has closed it.
bool showVideoSourceDialog();

}  // namespace korvix
