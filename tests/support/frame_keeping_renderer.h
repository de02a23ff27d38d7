// Test renderer for graph tests: a CBaseVideoRenderer that accepts 24-bit
// RGB in FORMAT_VideoInfo and records the frame index the pattern of each
// rendered frame (the whole padded image) showed.
#pragma once

#include <cstring>
#include <mutex>
#include <vector>

#include "filterbase/base_video_renderer.h"
#include "platform/media/media_guids.h"
#include "tools/frame_pattern.h"

namespace pelora_test {

// {3B8F2C61-9A4D-4E07-8C15-6D2E0F9A7B34}
inline constexpr CLSID CLSID_FrameKeepingRenderer = {
    0x3B8F2C61, 0x9A4D, 0x4E07, {0x8C, 0x15, 0x6D, 0x2E, 0x0F, 0x9A, 0x7B, 0x34}};

class CFrameKeepingRenderer final : public CBaseVideoRenderer {
public:
    explicit CFrameKeepingRenderer(HRESULT* phr)
        : CBaseVideoRenderer(CLSID_FrameKeepingRenderer, "CFrameKeepingRenderer", nullptr, phr) {}
    ~CFrameKeepingRenderer() override { ShutdownTimerAndAdvise(); }

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (*pmt->FormatType() != FORMAT_VideoInfo || *pmt->Type() != MEDIATYPE_Video ||
            *pmt->Subtype() != MEDIASUBTYPE_RGB24 || !pmt->Format() ||
            pmt->FormatLength() < sizeof(VIDEOINFOHEADER)) {
            return S_FALSE;
        }
        VIDEOINFOHEADER vih{};
        std::memcpy(&vih, pmt->Format(), sizeof vih);
        return vih.bmiHeader.biBitCount == 24 && vih.bmiHeader.biCompression == 0 ? S_OK : S_FALSE;
    }
    HRESULT SetMediaType(const CMediaType* pmt) override {
        std::lock_guard<std::mutex> lock(m_FrameLock);
        std::memcpy(&m_vih, pmt->Format(), sizeof m_vih);
        return S_OK;
    }
    // Streaming thread, both renderer locks held.
    HRESULT DoRenderSample(IMediaSample* pSample) override {
        BYTE* p = nullptr;
        pSample->GetPointer(&p);
        std::lock_guard<std::mutex> lock(m_FrameLock);
        const LONG w = m_vih.bmiHeader.biWidth, h = m_vih.bmiHeader.biHeight;
        const LONG stride = (3 * w + 3) & ~3;
        m_indices.push_back(pSample->GetActualDataLength() >= stride * h
                                ? ReadFrameIndex(p, w, h, stride)
                                : -1);
        return S_OK;
    }

    // Any thread.
    VIDEOINFOHEADER Format() {
        std::lock_guard<std::mutex> lock(m_FrameLock);
        return m_vih;
    }
    // The index shown by the latest frame, -1 without one.
    int LatestIndex() {
        std::lock_guard<std::mutex> lock(m_FrameLock);
        return m_indices.empty() ? -1 : static_cast<int>(m_indices.back());
    }
    std::vector<LONGLONG> Indices() {
        std::lock_guard<std::mutex> lock(m_FrameLock);
        return m_indices;
    }
    void ClearIndices() {
        std::lock_guard<std::mutex> lock(m_FrameLock);
        m_indices.clear();
    }

private:
    std::mutex m_FrameLock;  // guards the two fields below
    VIDEOINFOHEADER m_vih{};
    std::vector<LONGLONG> m_indices;  // pattern index of every rendered frame
};

}  // namespace pelora_test
