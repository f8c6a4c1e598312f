#include "frame_buffer_pool.h"

#include <mferror.h>

#include <new>
#include <utility>

namespace {

// A COM object deletes itself in Release, never through a pointer to its interface.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class PooledFrameBuffer final : public IMFMediaBuffer {
public:
    // Either a block of the pool (kept alive by `pool`) or memory of its own.
    PooledFrameBuffer(std::shared_ptr<FrameBufferPool> pool, FrameBufferPool::Block* block, BYTE* memory,
                      std::unique_ptr<BYTE[]> own)
        : pool_(std::move(pool)), block_(block), memory_(memory), own_(std::move(own)) {}
    ~PooledFrameBuffer() {
        if (block_) block_->busy.store(false, std::memory_order_release);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMFMediaBuffer)) {
            *out = static_cast<IMFMediaBuffer*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
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
    std::atomic<ULONG> refs_{1};
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
