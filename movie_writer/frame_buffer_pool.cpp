#include "frame_buffer_pool.h"

#include <tavro/com_support.h>

#include <mferror.h>

#include <new>
#include <utility>

namespace {

class PooledFrameBuffer final : public tavro::ComObject<IMFMediaBuffer> {
public:
    // Either a block of the pool (kept alive by `pool`) or memory of its own.
    PooledFrameBuffer(std::shared_ptr<FrameBufferPool> pool, FrameBufferPool::Block* block, BYTE* memory,
                      std::unique_ptr<BYTE[]> own)
        : pool_(std::move(pool)), block_(block), memory_(memory), own_(std::move(own)) {}
    ~PooledFrameBuffer() override {
        if (block_) block_->busy.store(false, std::memory_order_release);
    }

    STDMETHODIMP Lock(BYTE** data, DWORD* maxLength, DWORD* currentLength) override {
        if (!data) return E_POINTER;
        *data = memory_;
        if (maxLength) *maxLength = pool_->frameBytes();
        if (currentLength) *currentLength = currentLength_;
        return S_OK;
    }
    STDMETHODIMP Unlock() override { return S_OK; }
    STDMETHODIMP GetCurrentLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = currentLength_;
        return S_OK;
    }
    STDMETHODIMP SetCurrentLength(DWORD length) override {
        if (length > pool_->frameBytes()) return E_INVALIDARG;
        currentLength_ = length;
        return S_OK;
    }
    STDMETHODIMP GetMaxLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = pool_->frameBytes();
        return S_OK;
    }

private:
    std::shared_ptr<FrameBufferPool> pool_;
    FrameBufferPool::Block* block_;
    BYTE* memory_;
    std::unique_ptr<BYTE[]> own_;
    DWORD currentLength_ = 0;
};

}  // namespace

std::shared_ptr<FrameBufferPool> FrameBufferPool::create(DWORD frameBytes) {
    return std::shared_ptr<FrameBufferPool>(new (std::nothrow) FrameBufferPool(frameBytes));
}

HRESULT FrameBufferPool::createBuffer(IMFMediaBuffer** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = nullptr;
    for (Block& block : blocks_) {
        bool expected = false;
        if (!block.busy.compare_exchange_strong(expected, true, std::memory_order_acquire)) continue;
        // Only the writer's thread takes blocks, so only it allocates them.
        if (!block.memory) block.memory.reset(new (std::nothrow) BYTE[frameBytes_]);
        auto* made = block.memory ? new (std::nothrow) PooledFrameBuffer(shared_from_this(), &block,
                                                                          block.memory.get(), nullptr)
                                  : nullptr;
        if (!made) {
            block.busy.store(false, std::memory_order_release);
            return E_OUTOFMEMORY;
        }
        *buffer = made;
        return S_OK;
    }
    std::unique_ptr<BYTE[]> own(new (std::nothrow) BYTE[frameBytes_]);
    if (!own) return E_OUTOFMEMORY;
    BYTE* memory = own.get();
    auto* made = new (std::nothrow) PooledFrameBuffer(shared_from_this(), nullptr, memory, std::move(own));
    if (!made) return E_OUTOFMEMORY;
    *buffer = made;
    return S_OK;
}
