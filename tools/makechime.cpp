// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

// Writes the program's alert sound: a short two-note chime as a 16-bit mono
// PCM WAV file. Made at build time so the repository holds no binary.
#include "monowav.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: makechime OUTPUT.wav\n");
        return 2;
    }
    constexpr int rate = 22050;
    constexpr double noteSeconds = 0.35;
    constexpr double notes[] = {880.0, 1318.5}; // A5, then E6: "hej!"
    std::vector<std::int16_t> samples;
    for (const double freq : notes) {
        const int n = static_cast<int>(rate * noteSeconds);
        for (int i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double attack = std::min(1.0, t / 0.01); // no click at the start
            const double envelope = attack * std::exp(-t * 7.0);
            const double wave = std::sin(2 * std::numbers::pi * freq * t) +
                                0.3 * std::sin(2 * std::numbers::pi * 2 * freq * t);
            samples.push_back(static_cast<std::int16_t>(wave / 1.3 * envelope * 0.6 * 32767));
        }
    }

    std::ofstream out(argv[1], std::ios::binary);
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    const std::string wav = monoWav(samples, rate);
    out.write(wav.data(), static_cast<std::streamsize>(wav.size()));
    return out ? 0 : 1;
}
