#pragma once
// Engine result codes. 0 (or a positive value) is success; every failure has the top bit set.
// Operations that can only succeed or fail return 1 or 0 instead, as their headers say.
#include <cstdint>

using MeResult = int32_t;

inline constexpr MeResult MeCode(uint32_t v) { return static_cast<MeResult>(v); }

inline constexpr MeResult ME_OK = 0;
inline constexpr MeResult ME_FAIL = MeCode(0x80000000u);
inline constexpr MeResult ME_ERR_MEMORY = MeCode(0x80000001u);
inline constexpr MeResult ME_ERR_THREAD = MeCode(0x80000002u);
inline constexpr MeResult ME_ERR_SYSTEM_INIT = MeCode(0x80000003u);
inline constexpr MeResult ME_ERR_NETWORK_SYSTEM = MeCode(0x80000004u);
inline constexpr MeResult ME_ERR_FILE_NOT_FOUND = MeCode(0x80000010u);
inline constexpr MeResult ME_ERR_FILE_CREATE = MeCode(0x80000011u);
inline constexpr MeResult ME_ERR_FILE_IO = MeCode(0x80000012u);
inline constexpr MeResult ME_ERR_UNSUPPORTED_FUNCTION = MeCode(0x80000014u);
inline constexpr MeResult ME_ERR_RANDOM_ACCESS = MeCode(0x80000015u);
inline constexpr MeResult ME_ERR_UNSUPPORTED_URL = MeCode(0x80000016u);
inline constexpr MeResult ME_ERR_UNSUPPORTED_FILE = MeCode(0x80000017u);
inline constexpr MeResult ME_ERR_STREAM_SYNTAX = MeCode(0x80000018u);
inline constexpr MeResult ME_ERR_ENCRYPTED_FILE = MeCode(0x80000020u);
inline constexpr MeResult ME_ERR_EXPIRED_FILE = MeCode(0x80000022u);
inline constexpr MeResult ME_ERR_AUDIO_CODEC = MeCode(0x80000030u);
inline constexpr MeResult ME_ERR_VIDEO_CODEC = MeCode(0x80000031u);
inline constexpr MeResult ME_ERR_TEXT_CODEC = MeCode(0x80000032u);
inline constexpr MeResult ME_ERR_AUDIO_DECODER_INIT = MeCode(0x80000033u);
inline constexpr MeResult ME_ERR_VIDEO_DECODER_INIT = MeCode(0x80000034u);
inline constexpr MeResult ME_ERR_TEXT_DECODER_INIT = MeCode(0x80000035u);
inline constexpr MeResult ME_ERR_AUDIO_ENCODER_INIT = MeCode(0x80000036u);
inline constexpr MeResult ME_ERR_VIDEO_ENCODER_INIT = MeCode(0x80000037u);
inline constexpr MeResult ME_ERR_TEXT_ENCODER_INIT = MeCode(0x80000038u);
inline constexpr MeResult ME_ERR_AUDIO_INPUT_INIT = MeCode(0x80000039u);
inline constexpr MeResult ME_ERR_VIDEO_INPUT_INIT = MeCode(0x8000003au);
inline constexpr MeResult ME_ERR_AUDIO_OUTPUT_INIT = MeCode(0x8000003bu);
inline constexpr MeResult ME_ERR_VIDEO_OUTPUT_INIT = MeCode(0x8000003cu);
inline constexpr MeResult ME_ERR_SOCKET = MeCode(0x80000040u);
inline constexpr MeResult ME_ERR_PROTOCOL_SYNTAX = MeCode(0x80000041u);
inline constexpr MeResult ME_ERR_SEND = MeCode(0x80000042u);
inline constexpr MeResult ME_ERR_RECV = MeCode(0x80000043u);
inline constexpr MeResult ME_ERR_TIMEOUT = MeCode(0x80000044u);
inline constexpr MeResult ME_ERR_SERVER_INTERNAL = MeCode(0x80000045u);
inline constexpr MeResult ME_ERR_NO_CONNECTION = MeCode(0x80000046u);
inline constexpr MeResult ME_ERR_DISCONNECTED_SERVER = MeCode(0x80000047u);
inline constexpr MeResult ME_ERR_NO_RESPONSE = MeCode(0x80000048u);
inline constexpr MeResult ME_ERR_NO_DATA = MeCode(0x80000049u);
inline constexpr MeResult ME_ERR_INVALID_REQUEST = MeCode(0x8000004au);
inline constexpr MeResult ME_ERR_CLIENT_DENIED = MeCode(0x8000004bu);
inline constexpr MeResult ME_ERR_DISCONNECTED_CLIENT = MeCode(0x8000004cu);
inline constexpr MeResult ME_ERR_NO_REQUEST = MeCode(0x8000004du);
inline constexpr MeResult ME_ERR_URL_MOVED = MeCode(0x8000004fu);

// Internal codes: no message of their own; they steer control flow between the engine's layers.
inline constexpr MeResult ME_ERR_QUEUE_CREATE = MeCode(0x80000050u);
inline constexpr MeResult ME_ERR_BUFFER_TOO_SMALL = MeCode(0x80000051u);  // needed size returned
inline constexpr MeResult ME_ERR_NOT_READY = MeCode(0x80000052u);
inline constexpr MeResult ME_ERR_END_OF_DATA = MeCode(0x80000053u);
inline constexpr MeResult ME_ERR_NEED_INPUT = MeCode(0x80000054u);
inline constexpr MeResult ME_ERR_MORE_OUTPUT = MeCode(0x80000055u);
inline constexpr MeResult ME_ERR_NO_TRACK = MeCode(0x80000056u);
inline constexpr MeResult ME_ERR_LATE = MeCode(0x80000057u);       // 300..600 ms late
inline constexpr MeResult ME_ERR_LATE_DROP = MeCode(0x80000058u);  // 600..1000 ms late
inline constexpr MeResult ME_ERR_LATE_SKIP = MeCode(0x80000059u);  // over 1000 ms late
inline constexpr MeResult ME_ERR_EARLY = MeCode(0x8000005au);      // over 40 ms early: wait

inline constexpr bool MeFailed(MeResult r) { return r < 0; }

// The fixed English message of a code; "Unknown error" for codes without one.
const char *MeErrorText(MeResult code);
