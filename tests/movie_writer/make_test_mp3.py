#!/usr/bin/env python3
"""Writes a one-second 44100 Hz stereo MP3 (a 441 Hz tone) with Debian's libmp3lame, for the
suite's compressed-audio case. Exits 0 without writing when the library is not installed."""
import ctypes
import math
import sys

def main(path):
    try:
        lame = ctypes.CDLL("libmp3lame.so.0")
    except OSError:
        print("libmp3lame.so.0 not installed: no MP3 for the suite")
        return 0
    handle = ctypes.c_void_p
    lame.lame_init.restype = handle
    for name in ("lame_set_num_channels", "lame_set_in_samplerate", "lame_set_brate", "lame_set_quality"):
        getattr(lame, name).argtypes = [handle, ctypes.c_int]
    lame.lame_init_params.argtypes = [handle]
    lame.lame_encode_buffer_interleaved.argtypes = [handle, ctypes.POINTER(ctypes.c_short), ctypes.c_int,
                                                    ctypes.POINTER(ctypes.c_ubyte), ctypes.c_int]
    lame.lame_encode_flush.argtypes = [handle, ctypes.POINTER(ctypes.c_ubyte), ctypes.c_int]
    lame.lame_close.argtypes = [handle]

    encoder = lame.lame_init()
    lame.lame_set_num_channels(encoder, 2)
    lame.lame_set_in_samplerate(encoder, 44100)
    lame.lame_set_brate(encoder, 128)
    lame.lame_set_quality(encoder, 5)
    if lame.lame_init_params(encoder) < 0:
        print("libmp3lame refused the settings")
        return 1
    frames = 44100
    pcm = (ctypes.c_short * (2 * frames))()
    for i in range(frames):
        value = int(12000 * math.sin(2 * math.pi * 441 * i / 44100))
        pcm[2 * i] = value
        pcm[2 * i + 1] = value
    out = (ctypes.c_ubyte * (frames * 2 + 7200))()
    size = lame.lame_encode_buffer_interleaved(encoder, pcm, frames, out, len(out))
    data = bytes(out[:size])
    size = lame.lame_encode_flush(encoder, out, len(out))
    data += bytes(out[:size])
    lame.lame_close(encoder)
    with open(path, "wb") as file:
        file.write(data)
    return 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
