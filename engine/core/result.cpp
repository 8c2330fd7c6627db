#include "engine/core/result.h"

const char *MeErrorText(MeResult code) {
    switch (static_cast<uint32_t>(code)) {
        case 0x80000001u: return "Memory allocation failed.";
        case 0x80000002u: return "Thread creation failed";
        case 0x80000003u: return "System init failed";
        case 0x80000004u: return "Network system failed";
        case 0x80000010u: return "File not found";
        case 0x80000011u: return "File creation failed";
        case 0x80000014u: return "Unsupported function";
        case 0x80000015u: return "Random access failed";
        case 0x80000016u: return "Unsupported URL";
        case 0x80000017u: return "Unsupported file";
        case 0x80000018u: return "Stream syntax error";
        case 0x80000020u: return "Encryption file";
        case 0x80000022u: return "Expired file";
        case 0x80000030u: return "Unsupported audio codec";
        case 0x80000031u: return "Unsupported video codec";
        case 0x80000032u: return "Unsupported text codec";
        case 0x80000033u: return "Audio decoder init failed";
        case 0x80000034u: return "Video decoder init failed";
        case 0x80000035u: return "Text decoder init failed";
        case 0x80000036u: return "Audio encoder init failed";
        case 0x80000037u: return "Video encoder init failed";
        case 0x80000038u: return "Text encoder init failed";
        case 0x80000039u: return "Audio input device init failed";
        case 0x8000003au: return "Video input device init failed";
        case 0x8000003bu: return "Audio output device init failed";
        case 0x8000003cu: return "Video output device init failed";
        case 0x80000040u: return "Socket creation failed";
        case 0x80000041u: return "Protocol syntax error";
        case 0x80000042u: return "Send error";
        case 0x80000043u: return "Recv error";
        case 0x80000044u: return "Time out is occurerd";
        case 0x80000045u: return "Internal server error";
        case 0x80000046u: return "No connection to server";
        case 0x80000047u: return "Disconnected from sever";
        case 0x80000048u: return "No response from server";
        case 0x80000049u: return "No data is received from server";
        case 0x8000004au: return "Invalid request";
        case 0x8000004bu: return "Acception from client is denied";
        case 0x8000004cu: return "Disconnected from client";
        case 0x8000004du: return "No request from client";
        case 0x8000004fu: return "Requested URL is moved.";
        default: return "Unknown error";
    }
}
