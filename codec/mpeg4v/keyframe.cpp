// Key-frame-only decoding: a picture scan (thumbnails, event search) needs only the intra pictures,
// and telling them apart takes a look at the first picture header of each access unit.
#include <cstring>

#include "codec/mpeg4v/internal.h"
#include "codec/mpeg4v/mpeg4v.h"

using mp4v::Instance;

extern "C" {

int32_t Mp4vDecIsKeyFrame(const uint8_t *pData, uint32_t uDataLen, int32_t iIsShortHdr) {
    if (!pData) return -1;
    const uint8_t *p = pData;
    if (iIsShortHdr) {
        // 22-bit picture start code 0000 0000 0000 0000 1000 00, temporal reference (8), then
        // PTYPE: 1, 0, split screen, document camera, freeze release, source format (3) and the
        // coding type (0 intra). The start code is byte-aligned in an access unit.
        for (uint32_t i = 0; i + 5 <= uDataLen; ++i) {
            if (p[i] || p[i + 1] || (p[i + 2] & 0xFC) != 0x80) continue;
            // From the third byte on: 6 start code bits, 8 of TR, 8 PTYPE bits up to the source
            // format, then the coding type: bit 1 of the fifth byte.
            return (p[i + 4] & 2) == 0 ? 1 : 0;
        }
        return -1;
    }
    // vop_start_code 00 00 01 B6, then vop_coding_type (2 bits): 0 intra.
    for (uint32_t i = 0; i + 5 <= uDataLen; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6)
            return (p[i + 4] >> 6) == 0 ? 1 : 0;
    return -1;
}

uint32_t Mp4vDecDecodeKeyFrame(void *hDecoder, const Mp4vDecInput *pInput, Mp4vDecOutput *pOutput) {
    Instance *d = static_cast<Instance *>(hDecoder);
    if (!d || !pInput || !pOutput) return 0;
    // Each key frame comes back from its own call: nothing is held back for reordering.
    d->lowDelay = 1;
    if (pInput->uDataLen && pInput->pData &&
        Mp4vDecIsKeyFrame(pInput->pData, pInput->uDataLen, d->shortHdr) == 0) {
        pOutput->pY = pOutput->pU = pOutput->pV = nullptr;
        if (pOutput->piPicInfo) pOutput->piPicInfo[0] = -1;
        return pInput->uDataLen;
    }
    return Mp4vDecDecode(hDecoder, pInput, pOutput);
}

}  // extern "C"
