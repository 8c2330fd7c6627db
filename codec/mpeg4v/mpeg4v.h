#pragma once
// MPEG-4 Part 2 (ISO/IEC 14496-2) and short-header (H.263 baseline) video decoder.
//
// The decoder allocates nothing: the caller asks how many memory blocks it needs
// (Mp4vDecGetMemNum), how large they are for a configuration (Mp4vDecQueryMem), allocates them and
// hands them to Mp4vDecInit together with the frame buffers the pictures are decoded into. It
// keeps no global state; one instance must be used by one thread at a time. Diagnostics go only to
// the optional pfnPrint sink, one zero-terminated line per message.
#include <cstdint>

extern "C" {

// One caller-owned memory block: pointer and size in bytes.
struct Mp4vDecMemBlock {
    void *pBlock;
    uint32_t uSize;
};

struct Mp4vDecConfigInfo {
    const uint8_t *pConfigData;  // the stream's header bytes as stored by the container, or null
    uint32_t uReserved0;
    uint32_t uConfigDataLen;  // 0 when there are none
    uint32_t uReserved1[2];
    int32_t iIsShortHdrMode;  // 1 short header, 0 full MPEG-4, -1 decide from pConfigData
    int32_t iDeblocking;      // nonzero: post-filter the returned pictures
    int32_t iLowDelay;        // nonzero: no reordering delay (forced on in short-header mode)
};

// A frame buffer: pitch P = width rounded up to 16, Hp = height rounded up to 16; Y holds P*Hp
// bytes, U and V (P/2)*(Hp/2). Each plane pointer is rounded up to 16 by the decoder, so allocate
// 15 bytes of slack per plane.
struct Mp4vDecFrmBuffer {
    uint8_t *pY;
    uint8_t *pU;
    uint8_t *pV;
    uint32_t uReserved;
};

using Mp4vDecPrintFn = void (*)(const char *text);

struct Mp4vDecConfig {
    Mp4vDecConfigInfo *pConfigInfo;
    Mp4vDecFrmBuffer *pFrmBuffers;
    uint32_t uFrmBufferNum;        // at least 3
    uint32_t uMaxDecodableWidth;   // multiple of 16
    uint32_t uMaxDecodableHeight;  // multiple of 16
    Mp4vDecPrintFn pfnPrint;       // null: silent
};

struct Mp4vDecInitResult {
    int32_t *piIsShortHdr;  // receives 1 in short-header mode, else 0 (may be null)
    int32_t uWidth;         // the layer's size from the configuration data; 0 when not known
    int32_t uHeight;
};

struct Mp4vDecInput {
    uint32_t uReserved0;
    const uint8_t *pData;  // one access unit
    uint32_t uDataLen;     // 0 asks for a flush
    int32_t iFrameEnd;     // nonzero: the buffer ends the picture (a cut picture is concealed)
    uint32_t uReserved1;
    int32_t iResetStatus;  // nonzero: mark every macroblock damaged first, return without delay
};

struct Mp4vDecOutput {
    int32_t *piPicInfo;  // [0] coding type 0 I, 1 P, 2 B, 3 S or -1; [1] duration in 90 kHz ticks
    uint32_t uWidth;     // display size
    uint32_t uHeight;
    uint32_t uPitch;  // luma pitch; chroma pitch is half
    uint8_t *pY;      // planes of the returned picture, or null
    uint8_t *pU;
    uint8_t *pV;
    uint32_t uReserved;
    uint32_t uCleanPercent;    // share of macroblocks decoded from clean intra data, 0..100
    const uint8_t *pMbStatus;  // per macroblock: 255 no content yet, 1 concealed, 0 clean
};

// The stream header record kept at the start of memory block 3.
struct Mp4vStreamInfo {
    int32_t iPackedBitstream;
    int32_t iOldEncoder;
    int32_t iTimeIncrementResolution;
    int32_t iTimeIncrementBits;
    int32_t iWidth;
    int32_t iHeight;
    int32_t iInterlaced;
    int32_t iSpriteEnable;
    int32_t iSpriteWarpingPoints;
    int32_t iSpriteWarpingAccuracy;
    int32_t iSpriteBrightnessChange;
    int32_t iQuantType;
    uint8_t aIntraQuantMatrix[64];  // raster order
    uint8_t aInterQuantMatrix[64];
    int32_t iQuarterSample;
    int32_t iComplexityEstimation;
    int32_t iDataPartitioned;
    int32_t iReversibleVlc;
    // current VOP
    int32_t iVopCodingType;
    int32_t iModuloTimeBase;
    int32_t iVopTimeIncrement;
    int32_t iVopNotCoded;
    int32_t iVopRoundingType;
    int32_t iVopQuant;
    int32_t iIntraDcVlcThreshold;
    int32_t iTopFieldFirst;
    int32_t iAlternateVerticalScan;
    int32_t iVopFcodeForward;
    int32_t iVopFcodeBackward;
    int32_t iResyncMarkerBits;
};

// Always 4.
uint32_t Mp4vDecGetMemNum(void);

// Fills the sizes of the 4 blocks for the configuration (reads uFrmBufferNum and the maximum
// size only). Returns 4.
uint32_t Mp4vDecQueryMem(const Mp4vDecConfig *pConfig, Mp4vDecMemBlock *pMem);

// Lays an instance into the blocks. Returns the handle, or null after a message on failure.
void *Mp4vDecInit(Mp4vDecMemBlock *pMem, const Mp4vDecConfig *pConfig, Mp4vDecInitResult *pResult);

// Decodes from one access unit. Returns the number of input bytes used (uDataLen when the whole
// buffer was used or no complete picture was found; 0 for a flush). Never fails: broken data is
// concealed and shows in uCleanPercent and pMbStatus.
uint32_t Mp4vDecDecode(void *hDecoder, const Mp4vDecInput *pInput, Mp4vDecOutput *pOutput);

// Hands back the block pointers and sizes given at Mp4vDecInit; the caller frees them. Returns 4.
uint32_t Mp4vDecRelease(void *hDecoder, Mp4vDecMemBlock *pMem);

// Key frames. Mp4vDecIsKeyFrame looks at the first picture header of an access unit: 1 when the
// picture is intra-coded (an I-VOP, or an INTRA picture in short-header mode), 0 for any other
// picture, -1 when the unit holds no picture header. It reads nothing outside the buffer.
int32_t Mp4vDecIsKeyFrame(const uint8_t *pData, uint32_t uDataLen, int32_t iIsShortHdr);

// Decodes the access unit when it is a key frame (or holds only stream headers) and returns its
// picture at once; any other picture is skipped without decoding: the whole buffer counts as used,
// pY is null and piPicInfo[0] is -1. Switches the instance to low delay for good, so an instance
// used for this should take only this call. Same results as Mp4vDecDecode otherwise.
uint32_t Mp4vDecDecodeKeyFrame(void *hDecoder, const Mp4vDecInput *pInput, Mp4vDecOutput *pOutput);

// Colour conversion for an RGB display path: full-range YUV 4:2:0 to packed pixels with 6-bit
// coefficients (BT.709 proportions), two picture rows per chroma row. iBgr != 0 writes B, G, R
// (else R, G, B); the 32-bit variant appends a fourth byte of 255. Odd sizes convert their last
// column and row too.
void Mp4vDecYuvToRgb24(const uint8_t *pY, const uint8_t *pU, const uint8_t *pV, int32_t iYStride,
                       int32_t iWidth, int32_t iHeight, uint8_t *pDst, int32_t iDstStride,
                       int32_t iBgr);
void Mp4vDecYuvToRgb32(const uint8_t *pY, const uint8_t *pU, const uint8_t *pV, int32_t iYStride,
                       int32_t iWidth, int32_t iHeight, uint8_t *pDst, int32_t iDstStride,
                       int32_t iBgr);

}  // extern "C"
