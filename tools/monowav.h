// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <cstdint>
#include <span>
#include <string>

// A WAV file of 16-bit mono PCM: how the alert sound made at build time and
// the bell's own tone are written.
inline std::string monoWav(std::span<const std::int16_t> samples, std::uint32_t rate)
{
    std::string wav;
    const auto put = [&wav](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            wav += static_cast<char>((value >> (8 * i)) & 0xff);
    };
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    wav += "RIFF";
    put(36 + dataBytes, 4);
    wav += "WAVEfmt ";
    put(16, 4);       // size of the format chunk
    put(1, 2);        // PCM
    put(1, 2);        // mono
    put(rate, 4);     // frames per second
    put(rate * 2, 4); // bytes per second
    put(2, 2);        // bytes per frame
    put(16, 2);       // bits per sample
    wav += "data";
    put(dataBytes, 4);
    for (const std::int16_t sample : samples)
        put(static_cast<std::uint16_t>(sample), 2);
    return wav;
}
