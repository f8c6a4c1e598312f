// Every message of the digitizer: a task-modal warning box owned by no window, with the
// system's default caption. The text is shown as it is, never read as a format.
#pragma once

#include <string>

namespace pramble {

void reportError(const std::string& text);

// instanceName + " : " + text.
void reportInstanceError(const std::string& instanceName, const std::string& text);

}  // namespace pramble
