#include "movie_export.h"

#include "java_strings.h"

#include <quicktime/services_binding.h>

#include <tavro/boundary.h>

#include <com_vyk_util_jni_Korvix.h>

#include <cstdio>

namespace korvix {

namespace {

using namespace quicktime;
using namespace quicktime::services;

// One message line: the text, the path and ": " where given, the code in signed decimal.
void report(const char* text, long code) {
    std::printf("%s%ld\n", text, code);
    std::fflush(stdout);
}

void report(const char* text, const std::string& path, long code) {
    std::printf("%s%s: %ld\n", text, path.c_str(), code);
    std::fflush(stdout);
}

constexpr ComponentDescription kIPodExporter = {fourCharCode("spit"), fourCharCode("M4VP"), fourCharCode("appl"), 0, 0};
constexpr UInt8 kExportParameterSize =
    sizeof(MovieExportToDataRefParameters) - offsetof(MovieExportToDataRefParameters, dataRef);
#if defined(__i386__)
static_assert(kExportParameterSize == 24);
#endif

// The movie toolbox entered for one conversion, and what it made that must be given back; the
// movie, its file and the destination's string object are left to ExitMovies (QuickTime's
// routines for closing them are not part of the binding).
class ExportSession {
public:
    ~ExportSession() {
        if (dataRef_) DisposeHandle(dataRef_);
        if (exporter_) CloseComponent(exporter_);
        ExitMovies();
        TerminateQTML();
    }

    bool run(const std::string& source, const std::string& destination) {
        FSSpec sourceSpec{};
        if (const OSErr error = NativePathNameToFSSpec(const_cast<char*>(source.c_str()), &sourceSpec, 0)) {
            report("Could not get file resource for ", source, error);
            return false;
        }
        short movieFile = 0;
        if (const OSErr error = OpenMovieFile(&sourceSpec, &movieFile, fsRdPerm)) {
            report("Could not open movie file: ", error);
            return false;
        }
        Movie movie = nullptr;
        short resourceId = 0;
        const OSErr made = NewMovieFromFile(&movie, movieFile, &resourceId, nullptr, newMovieActive, nullptr);
        if (made != 0 || !movie) {
            report("Could not generate QT Movie: ", made);
            return false;
        }
        const CFStringRef destinationText =
            CFStringCreateWithCString(kCFAllocatorDefault, destination.c_str(), kCFStringEncodingUTF8);
        Handle dataRef = nullptr;
        OSType dataRefType = 0;
        if (const OSErr error = QTNewDataReferenceFromFullPathCFString(destinationText, kQTNativeDefaultPathStyle, 0,
                                                                       &dataRef, &dataRefType)) {
            report("Could not create destination file ", destination, error);
            return false;
        }
        dataRef_ = dataRef;
        ComponentDescription wanted = kIPodExporter;
        const Component component = FindNextComponent(nullptr, &wanted);
        if (!component) {
            report("Could not get QT export component: ", 0);
            return false;
        }
        ComponentInstance exporter = nullptr;
        if (const OSErr error = OpenAComponent(component, &exporter)) {
            report("Could not open QT export component: ", error);
            return false;
        }
        exporter_ = exporter;
        MovieExportToDataRefParameters request{};
        request.paramSize = kExportParameterSize;
        request.what = kMovieExportToDataRefSelect;
        request.dataRef = dataRef;
        request.dataRefType = dataRefType;
        request.theMovie = movie;
        request.onlyThisTrack = nullptr;
        request.startTime = 0;
        request.duration = GetMovieDuration(movie);
        if (const ComponentResult error =
                CallComponentWithParameters(exporter, reinterpret_cast<ComponentParameters*>(&request))) {
            report("Could not convert to M4V: ", error);
            return false;
        }
        return true;
    }

private:
    Handle dataRef_ = nullptr;
    ComponentInstance exporter_ = nullptr;
};

}  // namespace

bool convertMovieForIPod(const std::string& source, const std::string& destination) {
    try {
        if (const OSErr error = InitializeQTML(0)) {
            report("Could not initialize QTML: ", error);
            return false;
        }
        if (const OSErr error = EnterMovies()) {
            report("Could not initialize EnterMovies: ", error);
            TerminateQTML();
            return false;
        }
        ExportSession session;
        return session.run(source, destination);
    } catch (...) {
        std::puts("Unknown error occurred in convertForIPod");
        std::fflush(stdout);
        return false;
    }
}

}  // namespace korvix

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_convertForIPod(JNIEnv* env, jclass, jstring source,
                                                                       jstring destination) {
    return tavro::guardBoundary<jboolean>(JNI_FALSE, [&] {
        const std::string sourcePath = korvix::javaStringToBytes(env, source);
        const std::string destinationPath = korvix::javaStringToBytes(env, destination);
        if (env->ExceptionCheck()) return JNI_FALSE;  // the VM could not give the strings
        return korvix::convertMovieForIPod(sourcePath, destinationPath) ? JNI_TRUE : JNI_FALSE;
    });
}

}  // extern "C"
