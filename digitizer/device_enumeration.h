// DirectShow's device categories through the system device enumerator.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <functional>
#include <optional>
#include <string>

namespace pramble {

// A device's "FriendlyName" in the ANSI code page, cut to 79 characters; none when the
// moniker's property bag or the name cannot be read.
std::optional<std::string> friendlyName(IMoniker* device);

// Calls visit for each moniker of the category, after Reset, until it answers true. False when
// the category has no enumerator (an empty category answers S_FALSE and none).
bool forEachDevice(REFGUID category, const std::function<bool(IMoniker* device)>& visit);

// The filter of the category's device whose name is exactly `name` (bytes, case-sensitive), or,
// without a name, of the index-th device that has a name: nameless devices get no component at
// registration, so they are not counted here either. Null when none matches.
IBaseFilter* findFilterInRegistry(REFGUID category, const char* name, int index);

}  // namespace pramble
