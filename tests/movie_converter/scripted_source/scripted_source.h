// An in-process COM server for the converter's suite: a byte-stream handler, registered under
// HKLM for the file extension ".tavroscript", whose media source presents the streams the file
// describes. Inputs that Wine's own sources never produce (no streams, a stream without a
// current type, audio listed and selected first, a pixel aspect ratio) are opened through it by
// the real source resolver.
//
// The file is text, one stream a line, in presentation order:
//   video <selected 0|1> <width> <height> <rate num> <rate den> <aspect num> <aspect den>
//   audio <selected 0|1>
//   untyped <selected 0|1>      a video stream whose handler has a type but no current one
//   shutdown <hresult>          not a stream: the source's Shutdown answers this (hexadecimal)
// A zero in a video line leaves that attribute out (both numbers of the pair zero).
#pragma once

#include <guiddef.h>

// {8E4B7C21-3F6D-4A5E-9B1C-2D7A6F0E5C43}
inline constexpr GUID kScriptedSourceHandlerClsid = {
    0x8e4b7c21, 0x3f6d, 0x4a5e, {0x9b, 0x1c, 0x2d, 0x7a, 0x6f, 0x0e, 0x5c, 0x43}};
inline constexpr const wchar_t* kScriptedSourceHandlerClsidText = L"{8E4B7C21-3F6D-4A5E-9B1C-2D7A6F0E5C43}";
inline constexpr const wchar_t* kScriptedSourceExtension = L".tavroscript";
