// tests/processing: CRecordingWindow, an IFrameWindow that records what the
// worker asked of it, for tests that run the worker without any window.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "processing/frame_window.h"

class CRecordingWindow : public IFrameWindow {
public:
    struct SLine {
        int y;
        std::string text;
    };

    void SetCounterText(const std::string& strText) override {
        std::lock_guard<std::mutex> lock(m_mx);
        m_counterTexts.push_back(strText);
    }
    void SetSliderRange(LONG nMax, LONG nTickFreq) override {
        std::lock_guard<std::mutex> lock(m_mx);
        m_nSliderMax = nMax;
        m_nTickFreq = nTickFreq;
    }
    void SetSliderPos(LONG nPos) override {
        std::lock_guard<std::mutex> lock(m_mx);
        m_nSliderPos = nPos;
    }
    void DisableSlider() override {
        std::lock_guard<std::mutex> lock(m_mx);
        m_bSliderDisabled = true;
    }
    void ResetButtonsAfterRun() override {
        std::lock_guard<std::mutex> lock(m_mx);
        ++m_nButtonResets;
    }
    void InvalidatePicture() override {
        std::lock_guard<std::mutex> lock(m_mx);
        ++m_nInvalidations;
        m_cv.notify_all();
    }
    void DrawTextAt(int y, const std::string& strText) override {
        std::lock_guard<std::mutex> lock(m_mx);
        m_lines.push_back({y, strText});
    }
    void OnFrameProcessed(LONGLONG llIndex, double, double) override {
        std::lock_guard<std::mutex> lock(m_mx);
        m_processedIndexes.push_back(llIndex);
    }
    void OnRunEnded(LONGLONG llProcessed, LONGLONG llSkipped) override {
        std::lock_guard<std::mutex> lock(m_mx);
        ++m_nRunsEnded;
        m_llLastProcessed = llProcessed;
        m_llLastSkipped = llSkipped;
        m_cv.notify_all();
    }

    // Waits (bounded) until pred() holds under the lock.
    template <class Pred>
    bool WaitFor(Pred pred, int nMs = 15000) {
        // Polled in short slices: not every recorder call notifies.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        std::unique_lock<std::mutex> lock(m_mx);
        while (!pred(*this)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            m_cv.wait_for(lock, std::chrono::milliseconds(5));
        }
        return true;
    }
    template <class F>
    auto With(F f) {
        std::lock_guard<std::mutex> lock(m_mx);
        return f(*this);
    }
    // Lines drawn at row y, in order.
    std::vector<std::string> LinesAt(int y) {
        std::lock_guard<std::mutex> lock(m_mx);
        std::vector<std::string> v;
        for (const SLine& l : m_lines)
            if (l.y == y) v.push_back(l.text);
        return v;
    }

    std::mutex m_mx;
    std::condition_variable m_cv;
    std::vector<std::string> m_counterTexts;
    std::vector<SLine> m_lines;
    std::vector<LONGLONG> m_processedIndexes;
    LONG m_nSliderMax = -1, m_nTickFreq = -1, m_nSliderPos = -1;
    bool m_bSliderDisabled = false;
    int m_nButtonResets = 0;
    int m_nInvalidations = 0;
    int m_nRunsEnded = 0;
    LONGLONG m_llLastProcessed = 0, m_llLastSkipped = 0;
};
