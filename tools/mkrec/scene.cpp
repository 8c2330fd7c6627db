// vantrec-scene: renders a road seen through a windscreen as raw planar I420 on stdout, the
// picture source of the sample recordings (ffmpeg encodes it). Deterministic: the same arguments
// give the same bytes, and OFFSET continues the scene of an earlier clip.
//
// usage: vantrec-scene WIDTH HEIGHT FPS_NUM FPS_DEN SECONDS OFFSET_SECONDS [PACE]
// PACE scales how fast the road passes by (1 = about 60 km/h; smaller is cheaper to encode).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Rgb {
    double r, g, b;
};

// The scene is drawn in a 640x480 frame of reference and scaled to the output size.
Rgb Pixel(double x, double y, double t, double pace) {
    const double horizon = 200.0;
    if (y < horizon) {
        Rgb sky{90 + y * 0.4, 140 + y * 0.35, 220 - y * 0.2};
        // A few slow clouds.
        double c = std::sin(x * 0.021 + t * 0.05) * std::sin(y * 0.07 + x * 0.004) - 0.55;
        if (c > 0) sky = {sky.r + c * 300, sky.g + c * 250, sky.b + c * 80};
        return sky;
    }
    const double depth = 3000.0 / (y - 185.0);
    const double bend = std::pow((480.0 - y) / 280.0, 2.0);
    const double centre = 320.0 + 90.0 * std::sin(t * 0.3) * bend;
    const double half = (y - horizon) * 1.05 + 12.0;
    const double off = std::fabs(x - centre);
    const double paint = (y - horizon) * 0.012 + 1.5;
    const double tex = 20.0 * std::sin(depth * 1.5 + t * 37.0 * pace);

    // Car ahead, drifting within its lane.
    const double car_centre =
        320.0 + 90.0 * std::sin(t * 0.3) * std::pow(150.0 / 280.0, 2.0) + 40.0 * std::sin(t * 0.5);
    if (y >= 300 && y <= 345 && std::fabs(x - car_centre) < 38) {
        if (y >= 314 && y <= 322 && std::fabs(x - car_centre) > 26) return {250, 70, 40};
        if (y < 312) return {140, 150, 165};  // rear window
        return {120, 22, 28};
    }
    // Roadside posts passing by, one every 8 depth units on each side.
    for (int k = 0; k < 12; ++k) {
        double z = 8.0 * k + 8.0 - std::fmod(t * 30.0 * pace, 8.0);
        double py = 185.0 + 3000.0 / z;
        if (py > 480 + 200) continue;
        double ph = 1500.0 / z, pw = std::max(1.0, 120.0 / z);
        double road_half = (py - horizon) * 1.05 + 12.0;
        double pcentre =
            320.0 + 90.0 * std::sin(t * 0.3) * std::pow((480.0 - std::min(py, 480.0)) / 280.0, 2.0);
        for (int side = -1; side <= 1; side += 2) {
            double px = pcentre + side * road_half * 1.15;
            if (std::fabs(x - px) < pw && y <= py && y >= py - ph) return {225, 225, 215};
        }
    }
    if (off < half) {
        bool centre_dash = off < paint && std::fmod(depth + t * 30.0 * pace, 8.0) < 4.0;
        bool edge = std::fabs(off - half * 0.9) < paint;
        if (centre_dash || edge) return {235, 235, 225};
        return {100 + tex * 0.3, 100 + tex * 0.3, 106 + tex * 0.3};
    }
    return {60 + tex, 110 + tex, 50 + tex};
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

int main(int argc, char **argv) {
    if (argc != 7 && argc != 8) {
        std::fprintf(
            stderr,
            "usage: vantrec-scene WIDTH HEIGHT FPS_NUM FPS_DEN SECONDS OFFSET_SECONDS [PACE]\n");
        return 2;
    }
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]);
    const int num = std::atoi(argv[3]), den = std::atoi(argv[4]);
    const double seconds = std::atof(argv[5]), offset = std::atof(argv[6]);
    const double pace = argc == 8 ? std::atof(argv[7]) : 1.0;
    if (w < 16 || h < 16 || w > 4096 || h > 4096 || (w | h) & 1 || num <= 0 || den <= 0 ||
        seconds <= 0 || pace < 0 || pace > 10) {
        std::fprintf(stderr, "vantrec-scene: bad arguments\n");
        return 2;
    }
    const long frames = std::lround(seconds * num / den);
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 3 / 2);
    std::vector<Rgb> row(static_cast<size_t>(w) * 2);
    for (long n = 0; n < frames; ++n) {
        const double t = offset + static_cast<double>(n) * den / num;
        uint8_t *yp = frame.data();
        uint8_t *up = yp + static_cast<size_t>(w) * h;
        uint8_t *vp = up + static_cast<size_t>(w / 2) * (h / 2);
        for (int j = 0; j < h; j += 2) {
            for (int dj = 0; dj < 2; ++dj) {
                for (int i = 0; i < w; ++i) {
                    Rgb c = Pixel((i + 0.5) * 640.0 / w, (j + dj + 0.5) * 480.0 / h, t, pace);
                    row[static_cast<size_t>(dj) * w + i] = c;
                    // BT.601 studio range.
                    yp[static_cast<size_t>(j + dj) * w + i] =
                        Clamp(16 + 0.257 * c.r + 0.504 * c.g + 0.098 * c.b);
                }
            }
            for (int i = 0; i < w; i += 2) {
                double r = 0, g = 0, b = 0;
                for (int k : {0, 1}) {
                    for (int dj : {0, 1}) {
                        const Rgb &c = row[static_cast<size_t>(dj) * w + i + k];
                        r += c.r / 4, g += c.g / 4, b += c.b / 4;
                    }
                }
                size_t ci = static_cast<size_t>(j / 2) * (w / 2) + i / 2;
                up[ci] = Clamp(128 - 0.148 * r - 0.291 * g + 0.439 * b);
                vp[ci] = Clamp(128 + 0.439 * r - 0.368 * g - 0.071 * b);
            }
        }
        if (std::fwrite(frame.data(), 1, frame.size(), stdout) != frame.size()) return 2;
    }
    return 0;
}
