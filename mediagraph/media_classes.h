// mediagraph: RegisterMediaClasses(), the one place that makes every media
// object of this tier creatable by class id through CoCreateInstance: the
// filter graph manager (CLSID_FilterGraph), the system reference clock
// (CLSID_SystemClock) and the file source (CLSID_PeloraFileSource).
//
// The program calls it once at start-up, before the first graph is made;
// the tests call it before they create objects by class id. Idempotent and
// safe from any thread.
#pragma once

#include "platform/win/win_types.h"

HRESULT RegisterMediaClasses();
