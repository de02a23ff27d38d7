// Test source -> a renderer, joined to an event sink, torn down the way the
// graph manager does it: stop, disconnect both ends, leave the graph, then
// release. Derived fixtures make the renderer and call Init.
#pragma once

#include <gtest/gtest.h>

#include "support/test_event_sink.h"
#include "support/test_source_filter.h"

namespace pelora_test {

template <class TRenderer>
class SourceRendererGraph {
public:
    ~SourceRendererGraph() { Teardown(); }
    SourceRendererGraph(const SourceRendererGraph&) = delete;
    SourceRendererGraph& operator=(const SourceRendererGraph&) = delete;

    TRenderer* Renderer() { return m_pRenderer; }
    CTestSourceFilter* Source() { return m_pSource; }
    CTestSourcePin* SourcePin() { return m_pSource->Pin(); }
    CTestEventSink& Sink() { return m_Sink; }

    HRESULT Connect() { return m_pSource->Pin()->Connect(m_pRenderer->GetPin(0), nullptr); }
    void Disconnect() {
        EXPECT_EQ(m_pSource->Pin()->Disconnect(), S_OK);
        EXPECT_EQ(m_pRenderer->GetPin(0)->Disconnect(), S_OK);
    }
    // Renderer first (it releases a streaming thread waiting in Receive),
    // then the source (it joins its thread). Answers the renderer's result.
    HRESULT Pause() {
        const HRESULT hr = m_pRenderer->Pause();
        EXPECT_TRUE(SUCCEEDED(m_pSource->Pause()));
        return hr;
    }
    HRESULT Run(REFERENCE_TIME tStart = 0) {
        const HRESULT hr = m_pRenderer->Run(tStart);
        EXPECT_TRUE(SUCCEEDED(m_pSource->Run(tStart)));
        return hr;
    }
    void Stop() {
        EXPECT_EQ(m_pRenderer->Stop(), S_OK);
        EXPECT_TRUE(SUCCEEDED(m_pSource->Stop()));
    }

    void Teardown() {
        if (!m_pRenderer) return;
        Stop();
        if (m_pSource->Pin()->IsConnected()) Disconnect();
        m_pRenderer->JoinFilterGraph(nullptr, nullptr);
        m_pSource->JoinFilterGraph(nullptr, nullptr);
        m_pSource->Release();
        m_pRenderer->Release();
        m_pSource = nullptr;
        m_pRenderer = nullptr;
    }

protected:
    SourceRendererGraph() = default;
    // Takes the only reference to pRenderer; the filters keep the clock
    // (which may be null) with references of their own.
    void Init(TRenderer* pRenderer, const SourceOptions& options, IReferenceClock* pClock,
              bool bConnect) {
        m_pRenderer = pRenderer;
        m_pRenderer->AddRef();
        m_pSource = new CTestSourceFilter(options);
        m_pSource->AddRef();
        EXPECT_EQ(m_pRenderer->JoinFilterGraph(m_Sink.Graph(), L"Renderer"), S_OK);
        EXPECT_EQ(m_pSource->JoinFilterGraph(m_Sink.Graph(), L"Source"), S_OK);
        m_pRenderer->SetSyncSource(pClock);
        m_pSource->SetSyncSource(pClock);
        if (bConnect) {
            EXPECT_EQ(Connect(), S_OK);
        }
    }

private:
    CTestEventSink m_Sink;  // outlives the filters, which keep it without a reference
    TRenderer* m_pRenderer = nullptr;
    CTestSourceFilter* m_pSource = nullptr;
};

}  // namespace pelora_test
