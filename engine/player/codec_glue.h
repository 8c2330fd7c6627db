#pragma once
// The player's decoder glue: a VideoDecoder over the ISO/IEC 14496-2 / short-header decoder (or no
// decoder at all for raw picture tags), and an AudioDecoder over the AAC decoder. The engine owns
// every memory block the decoders use.
#include <cstdint>

#include "engine/core/result.h"
#include "engine/reader/reader.h"

// ---- Video -----------------------------------------------------------------------------------

inline constexpr uint32_t kVideoStampSlots = 8;

struct VideoPicture {
    const uint8_t *y, *u, *v;
    int32_t stride;  // luma; chroma is half
    int32_t width, height;
    int64_t time_ms;
};

struct VideoDecoder {
    uint32_t codec_tag;
    int raw;  // the sample is the picture
    int short_header;
    void *handle;  // the MPEG-4 decoder instance
    void *mem[4];
    uint32_t mem_size[4];
    uint8_t *frames;         // three frame buffers
    uint32_t width, height;  // picture size, as opened
    uint32_t pitch;          // width rounded up to 16
    uint8_t *raw_picture;    // converted packed raw pictures
    // Time stamps of the samples whose pictures have not come out yet; a picture takes the
    // smallest (pictures leave in display order).
    int64_t stamps[kVideoStampSlots];
    uint32_t stamp_count;
    int flushed;
};

// open: tag, size, configuration; the first sample stands in for a configuration that does not
// start with a start code. ME_ERR_VIDEO_CODEC, ME_ERR_VIDEO_DECODER_INIT, ME_ERR_MEMORY.
MeResult VideoDecoderCreate(uint32_t tag, uint32_t width, uint32_t height, const uint8_t *config,
                            uint32_t config_length, const uint8_t *first, uint32_t first_length,
                            VideoDecoder **out);
void VideoDecoderDestroy(VideoDecoder *d);
// 1 key frame, 2 predicted frame, 0 other (and always 0 in short-header mode).
int VideoDecoderCheckInput(const VideoDecoder *d, const uint8_t *data, uint32_t length);
// 1 when the sample is a bidirectionally predicted (B) picture.
int VideoDecoderIsBidirectional(const VideoDecoder *d, const uint8_t *data, uint32_t length);
// A B picture that is not decoded (its references are gone after a jump): its stamp is used up
// as if its picture had come out, so the pictures after it keep their own stamps.
void VideoDecoderSkipBidirectional(VideoDecoder *d, int64_t time_ms);
// Decodes from a sample. *consumed gets the bytes used; *got is set when *pic holds a picture.
MeResult VideoDecoderDecode(VideoDecoder *d, const uint8_t *data, uint32_t length, int64_t time_ms,
                            uint32_t *consumed, VideoPicture *pic, int *got);
// The picture still held back for reordering, at the end of the stream. 1 when one came out.
int VideoDecoderFlush(VideoDecoder *d, VideoPicture *pic);
// The time a picture decoded before VideoDecoderForgetStamps carries when it comes out after it.
inline constexpr int64_t kVideoStaleTime = INT64_MIN;
// The stream jumps (a seek, a late drop): the picture the decoder still holds back for
// reordering belongs to the old position. It comes out stamped kVideoStaleTime, so the stamps of
// the samples after the jump go to their own pictures.
void VideoDecoderForgetStamps(VideoDecoder *d);

// True for the tags the MPEG-4 decoder takes.
bool VideoTagIsMpeg4Family(uint32_t tag);

// ---- Audio -----------------------------------------------------------------------------------

inline constexpr uint32_t kAudioFrameLength = 1024;

struct AudioDecoder {
    uint32_t codec_tag;
    void *handle;
    void *mem[5];
    uint32_t mem_size[5];
    int32_t format;
    uint32_t out_rate, out_channels;
    uint32_t frame_length;  // samples per channel per decoded frame (2048 with SBR)
    int16_t *scratch;       // the decoder's 8192-byte output block
    void *blocks[5];        // the aligned block pointers handed to the decoder
    int32_t init_rate, init_channels, init_format, init_frame_length;
    int32_t init_downsampled;           // SBR at the core rate, as the configuration asked
    int32_t ps_mode;                    // the decoder's iPsMode for every frame
    uint8_t config[kDecoderConfigMax];  // the track's AudioSpecificConfig, reapplied on reset
    uint32_t config_length;
};

// The track record with its AudioSpecificConfig, and the first sample.
// ME_ERR_AUDIO_CODEC for a tag other than the AAC family; ME_ERR_AUDIO_DECODER_INIT.
MeResult AudioDecoderCreate(const AudioTrackInfo *track, const uint8_t *first,
                            uint32_t first_length, AudioDecoder **out);
void AudioDecoderDestroy(AudioDecoder *d);
// Starts the decoder afresh (after a seek): no overlap from before the jump leaks into the output.
MeResult AudioDecoderReset(AudioDecoder *d);
// Decodes one frame. *consumed: bytes used. *samples: per channel written into planes (each with
// room for frame_length). ME_OK, ME_ERR_MORE_OUTPUT (input left over), or a failure with nothing
// produced (the input is then dropped by the caller).
MeResult AudioDecoderDecode(AudioDecoder *d, const uint8_t *data, uint32_t length,
                            int16_t *const *planes, uint32_t *consumed, uint32_t *samples);
bool AudioTagIsAac(uint32_t tag);
