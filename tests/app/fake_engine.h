#pragma once
// A scripted stand-in for the media engine: it answers the player control layer's calls at once,
// on the calling thread, and lets a test play the status task by hand (Tick).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/engine_ops.h"

namespace vt::test {

struct FakeEngine {
    static FakeEngine &Get();
    void Reset();

    // Script.
    int32_t duration_ms = 60000;
    bool refuse_open = false;
    // A capture request writes a JPEG of this size and colour at once (no size: writes nothing).
    int capture_width = 0, capture_height = 0;
    uint32_t capture_rgb = 0x20C840;
    std::vector<std::pair<int32_t, std::string>> data;

    // What the control layer did.
    int creates = 0, opens = 0, stops = 0, pauses = 0, plays = 0;
    std::vector<int32_t> seeks;
    int steps_forward = 0, steps_back = 0;
    int32_t speed = 100;
    int speed_calls = 0;
    int32_t mute = 0;
    std::vector<std::string> captures;
    uint32_t volume = 0;
    std::string last_path;
    void *window = nullptr;
    bool has_text_provider = false;

    // The engine's own state.
    int32_t state = 0;
    int32_t position = 0;
    PlayerConfig config{};
    size_t data_read = 0;

    // One pass of the status task: position and state, then the status-tick callback.
    void Tick(int32_t position_ms, int32_t engine_state = STATE_PLAYING);
};

const vt::app::EngineOps *FakeEngineOps();

}  // namespace vt::test
