#include "fake_file_graph.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "tools/frame_pattern.h"

namespace {
std::mutex g_mxClip;
SFakeClip g_clip;  // guarded by g_mxClip
std::atomic<int> g_nSeeksToNeverFrame{0};
std::atomic<int> g_nSeekRequests{0};

}  // namespace

void CFakeFileGraph::SetClip(const SFakeClip& clip) {
    std::lock_guard<std::mutex> lock(g_mxClip);
    g_clip = clip;
    g_nSeeksToNeverFrame.store(0);
    g_nSeekRequests = 0;
}

int CFakeFileGraph::SeeksToNeverFrame() { return g_nSeeksToNeverFrame.load(); }
int CFakeFileGraph::SeekRequests() { return g_nSeekRequests.load(); }

std::unique_ptr<IFileGraph> CFakeFileGraph::Factory(void*) {
    std::lock_guard<std::mutex> lock(g_mxClip);
    return std::make_unique<CFakeFileGraph>(g_clip);
}

HRESULT CFakeFileGraph::Open(const std::string&, EOpenStep* pFailedStep) {
    *pFailedStep = m_clip.bFailOpen ? EOpenStep::RenderFile : EOpenStep::None;
    return m_clip.bFailOpen ? E_FAIL : S_OK;
}

BITMAPINFO CFakeFileGraph::RendererFormat() const {
    const DWORD cbImage = ((3 * m_clip.nWidth + 3) & ~3) * m_clip.nHeight;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = m_clip.nWidth;
    bmi.bmiHeader.biHeight = m_clip.nHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biSizeImage = cbImage;
    return bmi;
}

HRESULT CFakeFileGraph::IsFormatSupported(const GUID* pFormat) {
    const bool bFrames = *pFormat == TIME_FORMAT_FRAME && m_clip.bFrameFormat;
    return *pFormat == TIME_FORMAT_MEDIA_TIME || bFrames ? S_OK : S_FALSE;
}

HRESULT CFakeFileGraph::SetTimeFormat(const GUID* pFormat) {
    if (IsFormatSupported(pFormat) != S_OK) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mx);
    m_bFrameFormat = (*pFormat == TIME_FORMAT_FRAME);
    return S_OK;
}

LONGLONG CFakeFileGraph::FrameTime(int nFrame) const {
    if (m_bFrameFormat) return nFrame;
    if (m_clip.nFpsNum > 0) return std::llround(static_cast<double>(nFrame) * 1e7 / m_clip.nFpsNum);
    return nFrame * Duration();
}

int CFakeFileGraph::FrameAt(LONGLONG llPos) const {
    if (m_bFrameFormat) return static_cast<int>(std::clamp<LONGLONG>(llPos, 0, m_clip.nFrames));
    // The last frame that starts at or before the position.
    int n = static_cast<int>(std::clamp<LONGLONG>(llPos / Duration() - 1, 0, m_clip.nFrames));
    while (n < m_clip.nFrames && FrameTime(n + 1) <= llPos) ++n;
    return n;
}

HRESULT CFakeFileGraph::GetDuration(LONGLONG* pDuration) {
    std::lock_guard<std::mutex> lock(m_mx);
    *pDuration = FrameTime(m_clip.nFrames);
    return S_OK;
}

HRESULT CFakeFileGraph::SetPositions(LONGLONG* pCurrent, DWORD, LONGLONG* pStop, DWORD) {
    std::lock_guard<std::mutex> lock(m_mx);
    m_llStart = m_llCurrent = *pCurrent;
    m_llStop = std::min(*pStop, FrameTime(m_clip.nFrames));
    ++g_nSeekRequests;
    m_bComplete = false;
    Restart();  // a running graph flushes and plays from the new start
    if (m_nFirst == m_clip.nNeverSeekTo) g_nSeeksToNeverFrame.fetch_add(1);
    return S_OK;
}

HRESULT CFakeFileGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    std::lock_guard<std::mutex> lock(m_mx);
    Advance();
    *pCurrent = m_llCurrent;
    *pStop = m_llStop;
    return S_OK;
}

HRESULT CFakeFileGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                          LONGLONG Source, const GUID* pSourceFormat) {
    if (!pTargetFormat || !pSourceFormat || *pTargetFormat != TIME_FORMAT_MEDIA_TIME ||
        *pSourceFormat != TIME_FORMAT_SAMPLE || Source < 0 || Source >= m_clip.nFrames) {
        return E_INVALIDARG;
    }
    *pTarget = m_clip.nFpsNum > 0 ? std::llround(static_cast<double>(Source) * 1e7 / m_clip.nFpsNum)
                                  : Source * Duration();
    return S_OK;
}

HRESULT CFakeFileGraph::Run() {
    std::lock_guard<std::mutex> lock(m_mx);
    if (!m_bRunning) Restart();  // a (re)started run plays the segment from its start
    m_bRunning = true;
    return S_OK;
}

HRESULT CFakeFileGraph::Stop() {
    std::lock_guard<std::mutex> lock(m_mx);
    Advance();
    m_bRunning = false;
    return S_OK;
}

HRESULT CFakeFileGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    std::unique_lock<std::mutex> lock(m_mx);
    for (Advance(); !m_bComplete; Advance()) {
        if (std::chrono::steady_clock::now() >= deadline) return E_ABORT;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
    }
    *pEvCode = EC_COMPLETE;
    return S_OK;
}

void CFakeFileGraph::Restart() {
    m_tStart = std::chrono::steady_clock::now();
    // At or past the end the segment shows the last frame, as the file source does.
    m_nFirst = m_nNext = std::min(FrameAt(m_llStart), m_clip.nFrames - 1);
}

bool CFakeFileGraph::EndsBefore(int nFrame) const {
    return nFrame >= m_clip.nFrames || (m_clip.nDecodable >= 0 && nFrame >= m_clip.nDecodable) ||
           (nFrame > m_nFirst && FrameTime(nFrame) >= m_llStop);
}

void CFakeFileGraph::Advance() {
    if (!m_bRunning || m_bComplete || m_bFrameByFrame || m_nFirst == m_clip.nNeverSeekTo) return;
    const double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_tStart).count();
    const double dDue = m_nFirst + dSeconds * m_clip.dSpeed * 1e7 / static_cast<double>(Duration());
    for (;; ++m_nNext) {
        // The end comes right after the last frame; a stop equal to the start
        // still renders the first.
        if (EndsBefore(m_nNext)) {
            m_llCurrent = m_llStop;
            m_bComplete = true;
            return;
        }
        if (m_nNext > dDue) return;
        m_nLatestFrame = m_nNext;
        m_llCurrent = std::max(FrameTime(m_nNext), m_llStart);
    }
}

LONG CFakeFileGraph::GrabLatestFrame(BYTE* pDest, LONG cbDest, LONGLONG* pllPosition) {
    int nFrame;
    {
        std::lock_guard<std::mutex> lock(m_mx);
        Advance();
        nFrame = m_nLatestFrame;
        if (nFrame >= 0 && pDest != nullptr && pllPosition) *pllPosition = FrameTime(nFrame);
    }
    return DrawFrame(nFrame, pDest, cbDest);
}

HRESULT CFakeFileGraph::SetFrameByFrame(bool bFrameByFrame) {
    std::lock_guard<std::mutex> lock(m_mx);
    m_bFrameByFrame = bFrameByFrame;
    return S_OK;
}

HRESULT CFakeFileGraph::WaitForRenderedFrame(LONG msTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    std::unique_lock<std::mutex> lock(m_mx);
    for (Advance(); m_nLatestFrame == m_nSeenFrame; Advance()) {
        if (std::chrono::steady_clock::now() >= deadline) return E_ABORT;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
    }
    m_nSeenFrame = m_nLatestFrame;
    return S_OK;
}

HRESULT CFakeFileGraph::TakeFrame(BYTE* pDest, LONG cbDest, LONG msTimeout, LONG* pcbCopied) {
    int nFrame;
    {
        std::unique_lock<std::mutex> lock(m_mx);
        if (!m_bRunning || !m_bFrameByFrame || m_nFirst == m_clip.nNeverSeekTo) {
            // Nothing renders: the time-out passes, as in the renderer.
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(msTimeout));
            return E_ABORT;
        }
        if (m_bComplete || EndsBefore(m_nNext)) {
            m_llCurrent = m_llStop;
            m_bComplete = true;
            return S_FALSE;
        }
        nFrame = m_nLatestFrame = m_nNext++;
        m_llCurrent = std::max(FrameTime(nFrame), m_llStart);
    }
    *pcbCopied = DrawFrame(nFrame, pDest, cbDest);
    return S_OK;
}

LONG CFakeFileGraph::DrawFrame(int nFrame, BYTE* pDest, LONG cbDest) const {
    if (nFrame < 0 || pDest == nullptr) return 0;
    const int nStride = (3 * m_clip.nWidth + 3) & ~3;
    const LONG cb = nStride * m_clip.nHeight;
    if (cbDest < cb) return 0;
    // Drawn top-down, then the rows turned over into a bottom-up frame.
    DrawFramePattern(pDest, m_clip.nWidth, m_clip.nHeight, nStride, nFrame);
    for (int y = 0; y < m_clip.nHeight / 2; ++y)
        std::swap_ranges(pDest + y * nStride, pDest + (y + 1) * nStride,
                         pDest + (m_clip.nHeight - 1 - y) * nStride);
    return cb;
}
