/* Expands the routine table into "symbol code ;" pairs for the disassembly check. */
#include <quicktime/routines.h>

#define SERVICES_ENTRY(name, code, result, parameters) qt_services_##name code ;
#define DIGITIZER_ENTRY(name, code, result, parameters) qt_digitizer_##name code ;
QUICKTIME_SERVICES_ROUTINES(SERVICES_ENTRY)
QUICKTIME_DIGITIZER_ROUTINES(DIGITIZER_ENTRY)
