#include "launch_texts.h"

#include <initializer_list>

namespace tavro::launcher {

namespace {

std::string concat(std::initializer_list<std::string_view> pieces) {
    std::size_t size = 0;
    for (auto piece : pieces) size += piece.size();
    std::string text;
    text.reserve(size);
    for (auto piece : pieces) text.append(piece);
    return text;
}

std::string grant(std::string_view comment, std::string_view folder) {
    return concat({"//", comment, "\r\n", "grant codeBase \"file:/", toPolicyUrl(folder), "-\" {\r\n",
                   "\tpermission java.security.AllPermission;\r\n", "};\r\n"});
}

}  // namespace

std::string toPolicyUrl(std::string_view path) {
    std::string url;
    url.reserve(path.size());
    for (char c : path) {
        if (c == '\\')
            url += '/';
        else if (c == ' ')
            url += "%20";
        else
            url += c;
    }
    return url;
}

std::string policyFileText(std::string_view applicationFolder, std::string_view libraryFolder) {
    return concat({grant("Give this directory security permissions", applicationFolder), "\r\n",
                   grant("Give QuickTime security permissions", libraryFolder)});
}

std::string policyOption(std::string_view policyFilePath) {
    return concat({"-Djava.security.policy=file:/", toPolicyUrl(policyFilePath)});
}

std::string cleanPathVariable(std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    std::string cleaned(path);
    for (char& c : cleaned) {
        if (c == '"') c = ' ';
    }
    return cleaned;
}

std::string libraryPathOption(std::string_view applicationDirectory, std::string_view cleanedPath) {
    return concat({"-Djava.library.path=\".;", applicationDirectory, "\\lib;", cleanedPath, "\""});
}

std::string classPathPrefix(std::string_view applicationDirectory, std::string_view libraryFolder) {
    return concat({"-Djava.class.path=", applicationDirectory, "\\Tavro.jar;", libraryFolder, "QTJava.zip;",
                   ";", applicationDirectory, "\\;", applicationDirectory, "\\lib\\;"});
}

bool isArchivePath(std::string_view path) {
    return path.find(".jar") != std::string_view::npos || path.find(".zip") != std::string_view::npos;
}

bool isSelfOrParentEntry(std::string_view name) { return name == "." || name == ".."; }

std::string errorFileOption(std::string_view userProfile) {
    return concat({"-XX:ErrorFile=", userProfile, "\\Logs\\", kApplicationName, "_error%p.log"});
}

std::string launchErrorText(std::string_view message, bool fatal) {
    return concat({fatal ? "Fatal Error Launching: " : "Error Launching: ", message});
}

std::string sessionLogRecord(std::string_view timeStamp, std::string_view message, bool fatal) {
    return concat({"\r\n##### ", timeStamp, "\r\n", launchErrorText(message, fatal), "\r\n\r\n",
                   "##############################\r\n\r\n"});
}

}  // namespace tavro::launcher
