/* The public plug-in header compiled as C, as a plug-in written in C uses it. */
#include "pelora/tavro_plugin.h"

int64_t RowStrideSeenFromC(int32_t nWidth);

int64_t RowStrideSeenFromC(int32_t nWidth) { return TavroRowStride(nWidth); }
