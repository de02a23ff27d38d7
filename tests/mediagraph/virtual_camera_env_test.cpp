// PELORA_CAPTURE=virtual (set for this test program) lists the virtual
// camera when no test registry is set, and it runs free at its frame rate.
#include <gtest/gtest.h>

#include <atomic>

#include "mediagraph/media_classes.h"
#include "platform/com/com_ref.h"
#include "platform/com/com_runtime.h"
#include "platform/ffmpeg/frame_pattern.h"
#include "platform/media/capture_interfaces.h"
#include "support/live_objects.h"
#include "support/watchdog.h"

namespace {

class LastNumber final : public ISampleGrabberCB {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = this;
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 2; }
    HRESULT SampleCB(double, IMediaSample* pSample) override {
        BYTE* p = nullptr;
        pSample->GetPointer(&p);
        auto n = ReadFrameNumber(p, 640, 480);
        if (n && static_cast<int64_t>(*n) > last.load())
            last = *n;
        else
            bad = true;
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }
    std::atomic<int64_t> last{-1};
    std::atomic<bool> bad{false};
};

class VirtualCameraEnvTest : public pelora_test::LiveObjectsTest {};

TEST_F(VirtualCameraEnvTest, EnvironmentListsTheVirtualCameraAndItStreams) {
    ASSERT_EQ(RegisterMediaClasses(), S_OK);
    CoInitialize(nullptr);
    LastNumber cb;
    {
        CComRef<ICreateDevEnum> devEnum;
        ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, reinterpret_cast<void**>(devEnum.Receive())),
                  S_OK);
        CComRef<IEnumMoniker> monikers;
        ASSERT_EQ(
            devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0),
            S_OK);
        CComRef<IMoniker> moniker;
        ASSERT_EQ(monikers->Next(1, moniker.Receive(), nullptr), S_OK);
        CComRef<IPropertyBag> bag;
        ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                         reinterpret_cast<void**>(bag.Receive())),
                  S_OK);
        VARIANT v;
        VariantInit(&v);
        ASSERT_EQ(bag->Read(L"FriendlyName", &v, nullptr), S_OK);
        EXPECT_STREQ(v.bstrVal, L"Pelora Virtual Camera");
        VariantClear(&v);
        EXPECT_NE(bag->Read(L"Description", &v, nullptr), S_OK);
        CComRef<IMoniker> second;
        EXPECT_EQ(monikers->Next(1, second.Receive(), nullptr), S_FALSE);

        CComRef<IBaseFilter> source, grab, sink;
        ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                        reinterpret_cast<void**>(source.Receive())),
                  S_OK);
        CComRef<IGraphBuilder> graph;
        CComRef<ICaptureGraphBuilder2> builder;
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         reinterpret_cast<void**>(graph.Receive()));
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                         IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(builder.Receive()));
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(grab.Receive()));
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(sink.Receive()));
        builder->SetFiltergraph(graph.Get());
        graph->AddFilter(source.Get(), L"Camera");
        graph->AddFilter(grab.Get(), L"Sample Grabber");
        graph->AddFilter(sink.Get(), L"NullRenderer");
        CComRef<ISampleGrabber> grabber;
        grab->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(grabber.Receive()));
        grabber->SetCallback(&cb, 0);
        ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source.Get(),
                                        grab.Get(), sink.Get()),
                  S_OK);
        CComRef<IMediaControl> control;
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(control.Receive()));
        ASSERT_EQ(control->Run(), S_OK);
        EXPECT_TRUE(pelora_test::WaitUntil([&] { return cb.last.load() >= 3; }));
        EXPECT_EQ(control->Stop(), S_OK);
        grabber->SetCallback(nullptr, 0);
    }
    EXPECT_FALSE(cb.bad.load());
    CoUninitialize();
}

}  // namespace
