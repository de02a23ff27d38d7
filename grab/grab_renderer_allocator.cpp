#include "grab/grab_renderer_allocator.h"

#include <climits>
#include <new>

CGrabRendererAllocator::CGrabRendererAllocator(HRESULT* phr)
    : CMemAllocator(nullptr, nullptr, phr) {}

CGrabRendererAllocator::~CGrabRendererAllocator() = default;

HRESULT CGrabRendererAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                              ALLOCATOR_PROPERTIES* pActual) {
    if (!pRequest || !pActual) return E_POINTER;
    ALLOCATOR_PROPERTIES request = *pRequest;
    request.cBuffers =
        request.cBuffers > INT32_MAX - kExtraBuffers ? INT32_MAX : request.cBuffers + kExtraBuffers;
    return CMemAllocator::SetProperties(&request, pActual);
}

CGrabRendererAllocator* CGrabRendererAllocator::Create() {
    HRESULT hr = S_OK;
    auto* pAllocator = new (std::nothrow) CGrabRendererAllocator(&hr);
    if (pAllocator && FAILED(hr)) {
        delete pAllocator;
        return nullptr;
    }
    return pAllocator;
}
