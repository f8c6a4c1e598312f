// The component's entry point, by which QuickTime sends every request; device components are
// registered with it too.
#pragma once

#include <quicktime/types.h>

extern "C" quicktime::ComponentResult QUICKTIME_CALL vdigComponentDispatch(quicktime::ComponentParameters* params,
                                                                          quicktime::Handle storage);
