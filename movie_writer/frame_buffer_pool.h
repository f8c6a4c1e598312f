// Media buffers for video frames whose memory is used again once the sink writer lets go of
// them. A fresh allocation of a whole frame per frame costs far more than the copy into it
// (page faults on every new block), and the encoder may still hold the last few frames, so
// each buffer returns its block to the pool only when its last reference is released, on
// whichever thread the platform releases it.
#pragma once

#include <windows.h>
#include <mfobjects.h>

#include <array>
#include <atomic>
#include <memory>

class FrameBufferPool : public std::enable_shared_from_this<FrameBufferPool> {
public:
    // Buffers of exactly frameBytes bytes.
    static std::shared_ptr<FrameBufferPool> create(DWORD frameBytes);

    // A new buffer (current length 0) on a free block of the pool, or on a block of its own
    // when every block is still in use; E_OUTOFMEMORY when no memory can be had.
    HRESULT createBuffer(IMFMediaBuffer** buffer);

    DWORD frameBytes() const { return frameBytes_; }

    struct Block {
        std::unique_ptr<BYTE[]> memory;
        std::atomic<bool> busy{false};
    };

private:
    explicit FrameBufferPool(DWORD frameBytes) : frameBytes_(frameBytes) {}

    DWORD frameBytes_;
    // Enough for the frames an encoder keeps in flight; more are allocated one by one.
    std::array<Block, 8> blocks_;
};
