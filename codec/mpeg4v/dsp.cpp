// The kernel tables: chosen once per process from what the CPU reports.
#include "codec/mpeg4v/dsp.h"

namespace mp4v {

DspTable MakeDspTable(bool optimised) {
    bool sse2 = false, avx2 = false;
#if VT_X86
    sse2 = optimised && __builtin_cpu_supports("sse2");
    avx2 = sse2 && __builtin_cpu_supports("avx2");
#else
    (void)optimised;
#endif
    DspTable t{};
    DspInitIdct(&t, sse2, avx2);
    DspInitMc(&t, sse2);
    DspInitQpel(&t, sse2);
    DspInitColour(&t, sse2, avx2);
    DspInitPostFilter(&t, sse2, avx2);
    DspInitGmc(&t, sse2, avx2);
    return t;
}

const DspTable &DspPortable() {
    static const DspTable table = MakeDspTable(false);
    return table;
}

}  // namespace mp4v
