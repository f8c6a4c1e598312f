// The JNI entries of com.vyk.io.VistaFileChooser.
#include "dialog_routines.h"

#include <com_vyk_io_VistaFileChooser.h>

#include <tavro/boundary.h>

#include <objbase.h>

#include <optional>

namespace {

enum class DialogKind { open, save };

jint runChooserCall(JNIEnv* env, jobject chooserObject, jobject parentComponent, DialogKind kind) {
    bool folders = false;
    const std::optional<jint> shown = tavro::guardBoundary(std::optional<jint>(), [&]() -> std::optional<jint> {
        pickora::ChooserContext chooser;
        chooser.env = env;
        chooser.chooserObject = chooserObject;
        chooser.parentComponent = parentComponent;
        pickora::readChooserContext(chooser);
        folders = chooser.directorySelectionEnabled;
        // Dialogs need a single-threaded apartment; it stays for the thread's later calls.
        ::CoInitialize(nullptr);
        if (kind == DialogKind::open) {
            return folders ? pickora::runItemOpenDialog(chooser) : pickora::runClassicOpenDialog(chooser);
        }
        return folders ? pickora::runItemSaveDialog(chooser) : pickora::runClassicSaveDialog(chooser);
    });
    if (shown) return *shown;
    // Out of memory somewhere: report a failed dialog in the routine's own terms.
    if (env->ExceptionCheck()) env->ExceptionClear();
    return folders ? static_cast<jint>(E_OUTOFMEMORY) : 1;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_com_vyk_io_VistaFileChooser_handleOpenDialog(JNIEnv* env, jobject self,
                                                                                   jobject parent) {
    return runChooserCall(env, self, parent, DialogKind::open);
}

extern "C" JNIEXPORT jint JNICALL Java_com_vyk_io_VistaFileChooser_handleSaveDialog(JNIEnv* env, jobject self,
                                                                                   jobject parent) {
    return runChooserCall(env, self, parent, DialogKind::save);
}
