// mediagraph: RegisterMediaClasses(), the one place that makes every media
// object of this tier creatable by class id through CoCreateInstance: the
// filter graph manager (CLSID_FilterGraph), the system reference clock
// (CLSID_SystemClock), the file source (CLSID_PeloraFileSource), and for
// cameras the system device enumerator (CLSID_SystemDeviceEnum), the capture
// graph builder (CLSID_CaptureGraphBuilder2), the sample grabber
// (CLSID_SampleGrabber) and the null renderer (CLSID_NullRenderer). Capture
// source filters are made by binding a video input device's moniker.
//
// The program calls it once at start-up, before the first graph is made;
// the tests call it before they create objects by class id. Idempotent and
// safe from any thread.
#pragma once

#include "platform/win/win_types.h"

HRESULT RegisterMediaClasses();
