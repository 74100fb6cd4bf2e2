// Writes the program's alert sound: a short two-note chime as a 16-bit mono
// PCM WAV file. Made at build time so the repository holds no binary.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <vector>

namespace {

void put16(std::ofstream &out, std::uint16_t v)
{
    const char b[2] = {static_cast<char>(v & 0xff), static_cast<char>(v >> 8)};
    out.write(b, 2);
}

void put32(std::ofstream &out, std::uint32_t v)
{
    put16(out, static_cast<std::uint16_t>(v & 0xffff));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}

} // namespace

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
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16); // fmt chunk size
    put16(out, 1);  // PCM
    put16(out, 1);  // mono
    put32(out, rate);
    put32(out, rate * 2); // bytes per second
    put16(out, 2);        // block align
    put16(out, 16);       // bits per sample
    out.write("data", 4);
    put32(out, dataBytes);
    for (const std::int16_t s : samples)
        put16(out, static_cast<std::uint16_t>(s));
    return out ? 0 : 1;
}
