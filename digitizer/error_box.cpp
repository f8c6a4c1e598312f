#include "error_box.h"

#include <windows.h>

namespace pramble {

void reportError(const std::string& text) {
    ::MessageBoxA(nullptr, text.c_str(), nullptr, MB_TASKMODAL | MB_ICONWARNING);
}

void reportInstanceError(const std::string& instanceName, const std::string& text) {
    reportError(instanceName + " : " + text);
}

}  // namespace pramble
