#pragma once
// Fixed-point AAC-LC decoder (ISO/IEC 14496-3) for raw access units, ADTS and ADIF streams.
// Streams of more than two channels (channel configuration 3 to 7, or a program configuration)
// come out as their stereo downmix; an ADTS frame of several raw data blocks is decoded one block
// per call (iBytesUsed moves to the next block).
//
// The caller owns all memory: AacDecQueryMem reports five blocks, the caller allocates them and
// passes them to AacDecInit, and frees them after AacDecReset. The decoder keeps no global state,
// allocates nothing and uses no floating point. One thread per instance; calls are not reentrant
// for the same instance.
//
// Results are HRESULT-style: 0 success, AACDEC_E_* for argument faults, and the positive decoder
// codes AACDEC_ERR_* below.
#include <cstdint>

extern "C" {

// One memory block: size in bytes, required alignment, and the caller's pointer.
typedef struct AacDecMemBlock {
    uint32_t uSize;
    uint32_t uAlignment;
    void *pMem;
} AacDecMemBlock;

enum { AACDEC_NUM_MEM_BLOCKS = 5 };

typedef struct AacDecParams {
    int32_t iSampleRate;      // in at init: core rate; out: output rate
    int32_t iChannels;        // in at init: channel count; out: output channels (1 or 2)
    int32_t iSbrPresent;      // out
    int32_t iPsPresent;       // out
    int32_t iBytesUsed;       // out: input bytes consumed by the call
    int32_t iFrameLost;       // in: 1 = conceal a missing frame instead of reading input
    int32_t iMuteLeft;        // in: 1 = channel 0 written as silence
    int32_t iMuteRight;       // in: 1 = channel 1 written as silence (unless iMuteLeft is 1)
    int32_t iSbrOff;          // in: 1 = parse SBR data but output at the core rate
    int32_t iSbrDownsampled;  // in: 1 = downsampled SBR
    int32_t iMonoOut;         // in: 1 = one output channel after SBR
    int32_t iPsMode;          // in: 0 PS when the core is mono, 1 off, 2 on
    int32_t iFormat;          // in at init / out: AACDEC_FORMAT_*
} AacDecParams;

enum { AACDEC_FORMAT_RAW = 0, AACDEC_FORMAT_ADTS = 1, AACDEC_FORMAT_ADIF = 2 };

// Input: iDataLen bytes of data at pData; iBufLen >= iDataLen. Any byte address is accepted, and
// no byte outside [pData, pData + iDataLen) is ever read.
typedef struct AacDecInBuf {
    int32_t iDataLen;
    int32_t iBufLen;
    const uint8_t *pData;
} AacDecInBuf;

// Output: planar 16-bit PCM, channel 0 at sample 0 and channel 1 at sample 2048; iBufLen must be
// at least 8192 bytes. iBytesWritten = channels * samples per channel * 2 (0 on the first frame).
typedef struct AacDecOutBuf {
    int32_t iBytesWritten;
    int32_t iBufLen;
    int16_t *pPcm;
} AacDecOutBuf;

typedef void *AacDecHandle;

// HRESULT-style argument faults.
#define AACDEC_E_HANDLE ((int32_t)0x80070006)
#define AACDEC_E_UNEXPECTED ((int32_t)0x8000FFFF)
#define AACDEC_E_POINTER ((int32_t)0x80004003)
#define AACDEC_E_INVALIDARG ((int32_t)0x80070057)

// Decoder codes. In AacDecDecode, AACDEC_ERR_FATAL, every code below 4101 and
// AACDEC_ERR_FRAME_LENGTH end the call without output; the others still produce the frame.
enum {
    AACDEC_OK = 0,
    AACDEC_ERR_FATAL = -1,                // the frame could not be read (input ended inside it)
    AACDEC_ERR_NO_ADTS_HEADER = 4098,     // ADTS format and no valid header in the input
    AACDEC_ERR_NO_ADIF_HEADER = 4100,     // "ADIF" expected and missing
    AACDEC_ERR_BAND_COUNT = 4102,         // max_sfb or section lengths beyond the band count
    AACDEC_ERR_CRC = 4103,                // ADTS CRC mismatch or protected data out of range
    AACDEC_ERR_RESERVED_CODEBOOK = 4104,  // codebook 12 in section data
    AACDEC_ERR_PREDICTION = 4106,         // predictor_data_present set
    AACDEC_ERR_COUPLING = 4107,           // coupling channel element
    AACDEC_ERR_TNS_RANGE = 4115,          // TNS filter range below band 0
    AACDEC_ERR_VERSION = 8192,            // version text is not AACDEC_VERSION
    AACDEC_ERR_UNLISTED_RATE = 8194,      // raw format, unlisted rate, and no ADTS header found
    AACDEC_ERR_OUTPUT_TOO_SMALL = 8196,   // output buffer shorter than 8192 bytes
    AACDEC_ERR_NOT_INITIALISED = 8200,    // AacDecInit has not run since the last reset
    AACDEC_ERR_FRAME_LENGTH = 8203,       // frame length other than 1024
    AACDEC_ERR_SBR_BASE = 4352            // SBR error n is reported as 4352 + n
};

#define AACDEC_VERSION "3.2"
enum { AACDEC_MIN_OUT_BYTES = 8192, AACDEC_CH1_OFFSET = 2048 };

// Fills the five block descriptions. 0, or AACDEC_E_POINTER when blocks is null.
int32_t AacDecQueryMem(AacDecMemBlock *blocks);

// Clears and lays out the five blocks, takes rate, channels and format from params.
// 0; AACDEC_E_POINTER (handle place or params null; *handle is cleared first); AACDEC_ERR_VERSION;
// AACDEC_E_INVALIDARG (a block pointer null or not 4-byte aligned).
int32_t AacDecInit(const char *version, AacDecHandle *handle, AacDecParams *params,
                   AacDecMemBlock *blocks);

// Runs format detection and one frame decode without output, fills the output fields of params,
// then clears the filter histories so the first real decode starts from silence.
int32_t AacDecProbe(AacDecHandle handle, AacDecParams *params, AacDecInBuf *in);

// Decodes one access unit (raw) or one frame (ADTS/ADIF) into out.
int32_t AacDecDecode(AacDecHandle handle, AacDecParams *params, AacDecInBuf *in, AacDecOutBuf *out);

// Ends the instance: later decodes return AACDEC_ERR_NOT_INITIALISED until the next init.
// 0, AACDEC_E_HANDLE or AACDEC_E_UNEXPECTED.
int32_t AacDecReset(AacDecHandle handle);

// Core frame length announced by the container (1024 or 960); anything but 1024 makes later
// decodes return AACDEC_ERR_FRAME_LENGTH. 0, AACDEC_E_HANDLE or AACDEC_E_UNEXPECTED.
int32_t AacDecSetFrameLength(AacDecHandle handle, int32_t frameLength);

// Hands the decoder an MP4 track's AudioSpecificConfig: its frame length (as AacDecSetFrameLength)
// and, for channel configuration 0, the program configuration that says which output channel each
// single-channel element takes. 0, AACDEC_E_HANDLE, AACDEC_E_UNEXPECTED, or the AacDecParseConfig
// result.
int32_t AacDecApplyConfig(AacDecHandle handle, const uint8_t *data, int32_t length);

// What an MP4 track's AudioSpecificConfig says, for the caller that sets up the decoder.
typedef struct AacDecConfig {
    int32_t iObjectType;     // audio object type of the core (2 = AAC-LC)
    int32_t iSampleRate;     // core sampling rate
    int32_t iChannelConfig;  // channel_configuration (0 = described by a PCE)
    int32_t iChannels;       // channels implied by the configuration or its PCE (0 if unknown)
    int32_t iFrameLength;    // 1024 or 960
    int32_t iSbrSignalled;   // 1 explicit SBR, 0 explicitly absent, -1 not signalled
    int32_t iPsSignalled;    // 1 explicit PS, 0 explicitly absent, -1 not signalled
    int32_t iExtSampleRate;  // SBR output rate when signalled, else 0
} AacDecConfig;

// Parses an AudioSpecificConfig. 0, or AACDEC_E_POINTER / AACDEC_E_INVALIDARG for a null,
// empty or truncated configuration.
int32_t AacDecParseConfig(const uint8_t *data, int32_t length, AacDecConfig *config);

}  // extern "C"
