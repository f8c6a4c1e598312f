// Every QuickTime routine this system calls, once: X(name, routine code, result, (parameters)).
// The code is group << 16 | number; result and parameters are QuickTime's published prototype,
// called with QuickTime's C convention (cdecl). The forwarding entries (assembly) and their C++
// declarations are both expanded from these lists, so they cannot disagree. Only #defines here:
// the assembly sources include this file too.
#pragma once

// The services library (Korvix): the movie export and the counted initialise and terminate.
#define QUICKTIME_SERVICES_ROUTINES(X)                                                              \
    X(quickTimeInitializeQTML, 0x001D0008, OSErr, (long flags))                                     \
    X(quickTimeTerminateQTML, 0x001D0009, void, (void))                                             \
    X(quickTimeReleasesLazyReference, 0x001D0059, Boolean, (void))                                  \
    X(NativePathNameToFSSpec, 0x001D002E, OSErr, (char* inName, FSSpec* outFile, long flags))       \
    X(EnterMovies, 0x00020001, OSErr, (void))                                                       \
    X(ExitMovies, 0x00020002, void, (void))                                                         \
    X(GetMovieDuration, 0x0002002B, TimeValue, (Movie theMovie))                                    \
    X(NewMovieFromFile, 0x000200F0, OSErr,                                                          \
      (Movie * theMovie, short resRefNum, short* resId, StringPtr resName, short newMovieFlags,     \
       Boolean* dataRefWasChanged))                                                                 \
    X(OpenMovieFile, 0x00020192, OSErr, (const FSSpec* fileSpec, short* resRefNum, SInt8 permission)) \
    X(QTNewDataReferenceFromFullPathCFString, 0x000203EA, OSErr,                                    \
      (CFStringRef filePath, QTPathStyle pathStyle, UInt32 flags, Handle* outDataRef,               \
       OSType* outDataRefType))                                                                     \
    X(CFStringCreateWithCString, 0x003201DB, CFStringRef,                                           \
      (CFAllocatorRef alloc, const char* cStr, CFStringEncoding encoding))                          \
    X(CallComponentWithParameters, 0x00010000, ComponentResult,                                     \
      (ComponentInstance instance, ComponentParameters* parameters))                                \
    X(FindNextComponent, 0x00010004, Component, (Component aComponent, ComponentDescription* looking)) \
    X(CloseComponent, 0x00010008, OSErr, (ComponentInstance aComponentInstance))                    \
    X(OpenAComponent, 0x0001002D, OSErr, (Component aComponent, ComponentInstance* ci))             \
    X(DisposeHandle, 0x00150032, void, (Handle h))

// The video digitizer component (Pramble); it also calls the component-call-with-storage entry.
#define QUICKTIME_DIGITIZER_ROUTINES(X)                                                             \
    X(RegisterComponent, 0x00010001, Component,                                                     \
      (ComponentDescription * cd, ComponentRoutineUPP componentEntryPoint, short global,            \
       Handle componentName, Handle componentInfo, Handle componentIcon))                           \
    X(GetComponentInfo, 0x00010005, OSErr,                                                          \
      (Component aComponent, ComponentDescription* cd, Handle componentName, Handle componentInfo,  \
       Handle componentIcon))                                                                       \
    X(SetComponentInstanceStorage, 0x0001000D, void, (ComponentInstance aComponentInstance, Handle theStorage)) \
    X(GetComponentRefcon, 0x00010010, long, (Component aComponent))                                 \
    X(SetComponentRefcon, 0x00010011, void, (Component aComponent, long theRefcon))                 \
    X(CountComponentInstances, 0x00010013, long, (Component aComponent))                            \
    X(MemError, 0x00150006, OSErr, (void))                                                          \
    X(NewHandle, 0x00150008, Handle, (Size byteCount))                                              \
    X(DisposeHandle, 0x00150032, void, (Handle h))                                                  \
    X(SetHandleSize, 0x00150033, void, (Handle h, Size newSize))                                    \
    X(GetHandleSize, 0x00150034, Size, (Handle h))                                                  \
    X(BlockMoveData, 0x0015003E, void, (const void* srcPtr, void* destPtr, Size byteCount))         \
    X(PtrToHand, 0x0015005D, OSErr, (const void* srcPtr, Handle* dstHndl, long size))              \
    X(c2pstr, 0x00280017, StringPtr, (char* aStr))                                                  \
    X(SetRect, 0x001E0025, void, (Rect * r, short left, short top, short right, short bottom))      \
    X(SectRect, 0x001E0028, Boolean, (const Rect* src1, const Rect* src2, Rect* dstRect))           \
    X(EqualRect, 0x001E002A, Boolean, (const Rect* rect1, const Rect* rect2))                       \
    X(EmptyRect, 0x001E002B, Boolean, (const Rect* r))                                              \
    X(GetCodecInfo, 0x00030003, OSErr, (CodecInfo * info, CodecType cType, CodecComponent codec))   \
    X(GetTimeBaseTime, 0x000200A6, TimeValue, (TimeBase tb, TimeScale s, TimeRecord* tr))           \
    X(announceThreadToQuickTime, 0x001D0013, OSErr, (unsigned long threadId, void* currentThread))

// Where the forwarding entries find the binding record's fields (in pointer-sized slots; the
// C++ record static-asserts the same offsets).
#define QUICKTIME_BINDING_DISPATCHER_OFFSET (1 * __SIZEOF_POINTER__)
#define QUICKTIME_BINDING_WITH_STORAGE_OFFSET (3 * __SIZEOF_POINTER__)
#define QUICKTIME_BINDING_HOOK_OFFSET (4 * __SIZEOF_POINTER__)

// What the not-initialised entry answers: QuickTime.qts is not bound.
#define QUICKTIME_NOT_INITIALISED_ERROR (-2095)
