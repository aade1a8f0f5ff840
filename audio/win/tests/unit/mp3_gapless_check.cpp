// MP3 decoding against a reference decoder's output (mpg123, gapless), for
// mp3_gapless_test.sh. For each case of the list file it decodes the MP3
// through a decode channel of the library and compares with the reference:
// the length, the alignment (the cross-correlation peak must sit at lag 0)
// and the level per window; for tagged files also the alignment with the
// source the MP3 was encoded from; and the same frames inside a WAV file
// (format tag 0x55) must decode alike. With --damage it wrecks the bodies of a
// few frames, keeping their headers, and checks that what comes out is never
// louder than the music around it. With --cut it cuts the file at frame
// boundaries and checks that each cut plays at the level of the whole file
// from the same point on; with --emphasis it marks some frames with the
// reserved emphasis, which must change nothing.
//
//   mp3_gapless_check LIST        LIST lines: MP3 REFERENCE.wav SOURCE.wav tagged|untagged
//   mp3_gapless_check --damage MP3 REFERENCE.wav
//   mp3_gapless_check --cut MP3 REFERENCE.wav     MP3 without a tag, cut as lossless cutters do
//   mp3_gapless_check --emphasis MP3 REFERENCE.wav
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bass.h"
#include "io/le_bytes.h"
#include "decode/mp3_frame.h"
#include "decode/mp3_scanner.h"
#include "decode/mp3_side_info.h"
#include "test_signals.h"

namespace {

using audio_test::read_file;

struct Sound {
    uint32_t rate = 0, channels = 0;
    std::vector<float> samples;  // interleaved
    size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// A 16-bit PCM WAV file, as mpg123 and sox write them.
Sound read_wav16(const std::string& path) {
    audio_test::WavChunks wav = audio_test::wav_chunks(read_file(path));
    Sound s;
    if (wav.format.size() >= 8) {
        s.channels = audio::le16(&wav.format[2]);
        s.rate = audio::le32(&wav.format[4]);
    }
    for (size_t i = 0; i + 2 <= wav.data.size(); i += 2)
        s.samples.push_back(int16_t(audio::le16(&wav.data[i])) / 32768.0f);
    return s;
}

// The bytes decoded through a decode channel of the library.
Sound decode(const std::vector<uint8_t>& bytes) {
    Sound s;
    HSTREAM stream = BASS_StreamCreateFile(TRUE, bytes.data(), 0, bytes.size(), BASS_STREAM_DECODE);
    BASS_CHANNELINFO info;
    if (!stream || !BASS_ChannelGetInfo(stream, &info)) return s;
    s.rate = info.freq;
    s.channels = info.chans;
    std::vector<float> buffer(4096 * s.channels);
    DWORD got;
    while ((got = BASS_ChannelGetData(stream, buffer.data(), DWORD(buffer.size() * sizeof(float)))) > 0 &&
           got != DWORD(-1))
        s.samples.insert(s.samples.end(), buffer.begin(), buffer.begin() + got / sizeof(float));
    BASS_StreamFree(stream);
    return s;
}

// The lag of b against a (b later: positive) where their cross-correlation
// over channel 0 peaks, searched within +-max_lag frames.
int peak_lag(const Sound& a, const Sound& b, int max_lag) {
    double best = -1e300;
    int best_lag = 0;
    long na = long(a.frames()), nb = long(b.frames());
    for (int lag = -max_lag; lag <= max_lag; ++lag) {
        double sum = 0;
        for (long i = std::max(0L, -long(lag)); i < na && i + lag < nb; ++i)
            sum += double(a.samples[i * a.channels]) * b.samples[(i + lag) * b.channels];
        if (sum > best) {
            best = sum;
            best_lag = lag;
        }
    }
    return best_lag;
}

// RMS in dB of every channel over frames [first, first + count).
double level_db(const Sound& s, size_t first, size_t count) {
    double sum = 0;
    size_t end = std::min(first + count, s.frames());
    for (size_t i = first * s.channels; i < end * s.channels; ++i) sum += double(s.samples[i]) * s.samples[i];
    double mean = end > first ? sum / double((end - first) * s.channels) : 0;
    return 10 * std::log10(mean + 1e-12);
}

// The largest difference in level between the two over 20 ms windows, where
// the reference is not silent; silent windows must stay near silent.
double worst_window_db(const Sound& ours, const Sound& ref) {
    size_t window = ref.rate / 50;
    double worst = 0;
    for (size_t first = 0; first + window <= std::min(ours.frames(), ref.frames()); first += window) {
        double r = level_db(ref, first, window), o = level_db(ours, first, window);
        worst = std::max(worst, r > -60 ? std::fabs(o - r) : std::max(0.0, o - (-50)));
    }
    return worst;
}

}  // namespace

namespace {

// The MP3 file as the data chunk of a WAV file (format tag 0x55).
std::vector<uint8_t> wrap_in_wav(const std::vector<uint8_t>& mp3) {
    auto source = audio::make_memory_source(mp3.data(), mp3.size());
    audio::Mp3Scanner scanner(*source);
    if (scanner.open() != audio::Error::none) return {};
    std::vector<uint8_t> format = audio::mp3_wave_format(scanner.first_header());
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F'};
    audio::put_le32(wav, uint32_t(4 + 8 + format.size() + 8 + mp3.size()));
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    audio::put_le32(wav, uint32_t(format.size()));
    wav.insert(wav.end(), format.begin(), format.end());
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    audio::put_le32(wav, uint32_t(mp3.size()));
    wav.insert(wav.end(), mp3.begin(), mp3.end());
    return wav;
}

// Checks one file; prints its figures, returns false on a mismatch.
bool check_case(const std::string& mp3, const std::string& ref_path, const std::string& src_path, bool tagged) {
    std::vector<uint8_t> bytes = read_file(mp3);
    Sound ours = decode(bytes), ref = read_wav16(ref_path), src = read_wav16(src_path);
    // Inside a WAV file the same frames decode to the same samples.
    bool same_in_wav = decode(wrap_in_wav(bytes)).samples == ours.samples;
    if (ours.frames() == 0 || ref.frames() == 0 || ours.rate != ref.rate || ours.channels != ref.channels) {
        std::printf("FAIL %s: not decoded, or not in the reference's format\n", mp3.c_str());
        return false;
    }
    long frame_samples = ours.rate >= 32000 ? 1152 : 576;
    long length_diff = long(ours.frames()) - long(ref.frames());
    int lag = peak_lag(ref, ours, 1500);
    double level = worst_window_db(ours, ref);
    bool ok = (tagged ? length_diff == 0 : std::labs(length_diff) <= frame_samples) && lag == 0 && level <= 1.0 &&
              same_in_wav;
    std::printf("%s %s: %zu frames (reference %zu), lag %d, worst window %.2f dB%s", ok ? "ok  " : "FAIL",
                mp3.c_str(), ours.frames(), ref.frames(), lag, level, same_in_wav ? "" : ", differs in WAV");
    if (tagged) {
        // The sound starts where it started before encoding, and is as long.
        int source_lag = peak_lag(src, ours, 1500);
        bool aligned = std::abs(source_lag) <= 1 && ours.frames() == src.frames();
        std::printf(", source %zu frames, lag %d", src.frames(), source_lag);
        ok = ok && aligned;
    }
    std::printf("\n");
    return ok;
}

// Offsets of the frames of a tagless file.
std::vector<size_t> frame_offsets(const std::vector<uint8_t>& b) {
    std::vector<size_t> offsets;
    audio::Mp3FrameHeader h;
    for (size_t pos = 0; pos + 4 <= b.size() && audio::parse_mp3_header(&b[pos], &h); pos += h.frame_bytes)
        offsets.push_back(pos);
    return offsets;
}

// Garbage in the bodies of frames whose headers check out: the output keeps
// the reference's length and timing, and no 10 ms window of it is louder
// than the loudest of the clean reference within 100 ms around it.
bool check_damage(const std::string& mp3, const std::string& ref_path) {
    std::vector<uint8_t> bytes = read_file(mp3);
    std::vector<size_t> offsets = frame_offsets(bytes);
    if (offsets.size() < 40) return std::printf("FAIL %s: too few frames\n", mp3.c_str()), false;
    uint32_t x = 12345;
    // Random bodies, two in a row among them, and one of all ones.
    for (size_t k = 6; k + 1 < offsets.size(); k += k % 7 == 0 ? 1 : 4) {
        for (size_t i = offsets[k] + 4; i < offsets[k + 1]; ++i)
            bytes[i] = k == 19 ? 0xFF : uint8_t((x = x * 1103515245u + 12345u) >> 24);
    }
    Sound ours = decode(bytes), ref = read_wav16(ref_path);
    size_t window = ref.rate / 100, around = 10;
    double worst = -100;
    for (size_t w = 0; (w + 1) * window <= std::min(ours.frames(), ref.frames()); ++w) {
        double loudest = -60;  // differences in the noise floor do not count
        for (size_t v = w > around ? w - around : 0; v <= w + around && (v + 1) * window <= ref.frames(); ++v)
            loudest = std::max(loudest, level_db(ref, v * window, window));
        worst = std::max(worst, level_db(ours, w * window, window) - loudest);
    }
    bool ok = ours.frames() == ref.frames() && worst <= 1.0;
    std::printf("%s %s damaged: %zu frames (reference %zu), loudest window %.2f dB over the music around it\n",
                ok ? "ok  " : "FAIL", mp3.c_str(), ours.frames(), ref.frames(), worst);
    return ok;
}

// The frames of s from frame `first` on.
Sound from_frame(const Sound& s, size_t first) {
    Sound tail = s;
    tail.samples.erase(tail.samples.begin(), tail.samples.begin() + long(std::min(first, s.frames()) * s.channels));
    return tail;
}

// How many frames at the start of bytes reach back into bytes before them:
// in a cut file, the main data they need is gone.
size_t frames_reaching_before(const std::vector<uint8_t>& bytes, const std::vector<size_t>& offsets) {
    size_t count = 0, behind = 0;
    audio::Mp3FrameHeader h;
    for (size_t j = 0; j < offsets.size() && audio::parse_mp3_header(&bytes[offsets[j]], &h); ++j) {
        audio::Mp3SideInfo info = audio::read_mp3_side_info(&bytes[offsets[j]], h);
        if (info.main_data_begin > behind) count = j + 1;
        behind += info.main_data_bytes;
    }
    return count;
}

// The file cut at frame k without re-encoding, as lossless cutters do,
// against the reference decode of the whole file from the same sample on.
// The frames whose main data begins before the cut may be silent, and so may
// the 1105 samples after them that the codec's filter delay (529) and the
// overlap of its transform (576) reach; none may be louder than the music.
// From then on every window matches.
bool check_cut_at(const std::vector<uint8_t>& bytes, const std::vector<size_t>& offsets, size_t k,
                  const Sound& ref, const char* point) {
    std::vector<uint8_t> cut(bytes.begin() + long(offsets[k]), bytes.end());
    std::vector<size_t> cut_offsets(offsets.begin() + long(k), offsets.end());
    for (size_t& offset : cut_offsets) offset -= offsets[k];
    audio::Mp3FrameHeader h;
    audio::parse_mp3_header(&cut[0], &h);
    Sound ours = decode(cut), expected = from_frame(ref, k * h.samples);
    size_t lost = frames_reaching_before(cut, cut_offsets), lead = lost * h.samples + 1105;
    double start = level_db(ours, 0, lead) - level_db(expected, 0, lead);
    double level = level_db(ours, lead, ours.frames()) - level_db(expected, lead, expected.frames());
    double worst = worst_window_db(from_frame(ours, lead), from_frame(expected, lead));
    bool ok = std::labs(long(ours.frames()) - long(expected.frames())) <= long(h.samples) && start <= 1.0 &&
              worst <= 1.0;
    std::printf("%s   cut at frame %zu (%s, reservoir %u bytes, %zu frames lost): level %+.2f dB, "
                "the frames before %+.1f dB, worst window %.2f dB\n",
                ok ? "ok  " : "FAIL", k, point, audio::read_mp3_side_info(&cut[0], h).main_data_begin, lost, level,
                start, worst);
    return ok;
}

// Cuts at 1.5 s, at 3.3 s and where the encoder's reservoir is fullest.
bool check_cuts(const std::string& mp3, const std::string& ref_path) {
    std::vector<uint8_t> bytes = read_file(mp3);
    std::vector<size_t> offsets = frame_offsets(bytes);
    Sound ref = read_wav16(ref_path);
    audio::Mp3FrameHeader h;
    if (offsets.size() < 100 || !audio::parse_mp3_header(bytes.data(), &h))
        return std::printf("FAIL %s: too few frames\n", mp3.c_str()), false;
    size_t fullest = 0, most = 0;
    for (size_t k = 10; k + 50 < offsets.size(); ++k) {
        uint32_t begin = audio::read_mp3_side_info(&bytes[offsets[k]], h).main_data_begin;
        if (begin > most) most = begin, fullest = k;
    }
    std::printf("%s: %u Hz, %u channels, %u kbit/s\n", mp3.c_str(), h.rate, h.channels, h.bitrate / 1000);
    bool ok = check_cut_at(bytes, offsets, size_t(1.5 * h.rate / h.samples), ref, "1.5 s");
    ok = check_cut_at(bytes, offsets, size_t(3.3 * h.rate / h.samples), ref, "3.3 s") && ok;
    return check_cut_at(bytes, offsets, fullest, ref, "fullest reservoir") && ok;
}

// Reserved emphasis (2) written into the headers of a run of frames in the
// middle and of one frame alone: the file decodes exactly as before.
bool check_reserved_emphasis(const std::string& mp3, const std::string& ref_path) {
    std::vector<uint8_t> bytes = read_file(mp3);
    std::vector<size_t> offsets = frame_offsets(bytes);
    if (offsets.size() < 40) return std::printf("FAIL %s: too few frames\n", mp3.c_str()), false;
    Sound plain = decode(bytes);
    for (size_t k : {10, 11, 12, 30}) bytes[offsets[k] + 3] = uint8_t((bytes[offsets[k] + 3] & ~3) | 2);
    Sound ours = decode(bytes), ref = read_wav16(ref_path);
    double worst = worst_window_db(ours, ref);
    bool ok = ours.samples == plain.samples && ours.frames() == ref.frames() && worst <= 1.0;
    std::printf("%s %s with reserved emphasis: %zu frames (reference %zu), worst window %.2f dB%s\n",
                ok ? "ok  " : "FAIL", mp3.c_str(), ours.frames(), ref.frames(), worst,
                ours.samples == plain.samples ? ", as without it" : ", differs from the file without it");
    return ok;
}

// Runs every case of the list file.
bool check_list(const std::string& list) {
    std::ifstream in(list);
    std::string line;
    bool ok = true;
    int cases = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string mp3, ref, src, tag;
        if (!(fields >> mp3 >> ref >> src >> tag)) continue;
        ok = check_case(mp3, ref, src, tag == "tagged") && ok;
        ++cases;
    }
    return ok && cases > 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!BASS_Init(0, 44100, 0, nullptr, nullptr)) return 2;
    bool ok = false;
    if (argc == 2) {
        ok = check_list(argv[1]);
    } else if (argc == 4 && std::strcmp(argv[1], "--damage") == 0) {
        ok = check_damage(argv[2], argv[3]);
    } else if (argc == 4 && std::strcmp(argv[1], "--cut") == 0) {
        ok = check_cuts(argv[2], argv[3]);
    } else if (argc == 4 && std::strcmp(argv[1], "--emphasis") == 0) {
        ok = check_reserved_emphasis(argv[2], argv[3]);
    } else {
        std::fprintf(stderr, "usage: mp3_gapless_check LIST | --damage|--cut|--emphasis MP3 REFERENCE.wav\n");
    }
    BASS_Free();
    return ok ? 0 : 1;
}
