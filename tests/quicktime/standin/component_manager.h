// The stand-in's Component Manager host for the video digitizer: registered components and
// their instances, handles, Pascal strings, rectangles and the other routines a digitizer calls,
// kept in the shared state (State::host) where the test acting as QuickTime reads and sets them.
#pragma once

#include <quicktime/types.h>

#include <cstdint>

// The handler of a digitizer routine code, or null for a code the host does not serve.
void* hostRoutine(std::uint32_t code);

// Frees a handle the host made (others are left alone).
void hostDisposeHandle(quicktime::Handle handle);

// Calls `handler` with the storage followed by the block's parameter slots.
long hostCallWithStorage(quicktime::Handle storage, quicktime::ComponentParameters* parameters,
                         quicktime::ComponentFunctionUPP handler);
