// A sample grabber callback owned by the test (no reference counting, as the
// camera library's): records the number each frame shows (-1: none read,
// -2: not a packed width x height BGR frame) and its capture time (-1: none).
// SampleCB runs on the capture pin's streaming thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ffmpeg/frame_pattern.h"
#include "platform/media/capture_interfaces.h"
#include "platform/media/sample_capture_time.h"

namespace pelora_test {

class NumberCallback final : public ISampleGrabberCB {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        queried = true;  // the grabber must never ask
        *ppv = this;
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 2; }
    HRESULT SampleCB(double, IMediaSample* pSample) override {
        inCall = true;
        BYTE* p = nullptr;
        if (holdFirstMs > 0 && calls.load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(holdFirstMs));
        std::lock_guard<std::mutex> lock(m_Lock);
        ISampleCaptureTime* pTime = nullptr;
        LONGLONG llCapture = -1;
        if (SUCCEEDED(pSample->QueryInterface(IID_ISampleCaptureTime,
                                              reinterpret_cast<void**>(&pTime)))) {
            if (pTime->GetCaptureTime(&llCapture) != S_OK) llCapture = -1;
            pTime->Release();
        }
        captureTimes.push_back(llCapture);
        if (pSample->GetPointer(&p) == S_OK &&
            pSample->GetActualDataLength() == static_cast<LONG>(width * height * 3)) {
            auto n = ReadFrameNumber(p, width, height);
            numbers.push_back(n ? static_cast<int64_t>(*n) : -1);
        } else {
            numbers.push_back(-2);
        }
        calls.fetch_add(1);
        inCall = false;
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }
    std::vector<int64_t> Numbers() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return numbers;
    }
    std::vector<LONGLONG> CaptureTimes() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return captureTimes;
    }

    // Set before the graph runs (Run orders them before the streaming thread).
    uint32_t width = 640, height = 480;
    int holdFirstMs = 0;  // the first call keeps the streaming thread this long
    std::atomic<bool> queried{false};
    std::atomic<bool> inCall{false};
    std::atomic<int> calls{0};

private:
    std::mutex m_Lock;  // guards numbers, captureTimes
    std::vector<int64_t> numbers;
    std::vector<LONGLONG> captureTimes;
};

}  // namespace pelora_test
