#include "logging/RecordingFile.h"

#include <bit>
#include <cstring>

namespace rv8 {

namespace recfile {

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutF64(uint8_t* p, double v) {
    PutU64(p, std::bit_cast<uint64_t>(v));
}

uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t GetU32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
double GetF64(const uint8_t* p) {
    return std::bit_cast<double>(GetU64(p));
}

std::size_t Utf8CutLength(const char* text, std::size_t size, std::size_t limit) {
    if (size <= limit) return size;
    std::size_t cut = limit;
    // text[cut] is the first byte left out; while it continues a character, that character
    // would be split, so leave it out whole.
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

}  // namespace recfile

using namespace recfile;

std::vector<uint8_t> EncodeRecordingHeader(const RecordingHeader& h, uint16_t version) {
    const std::size_t channels = h.channelCount;
    std::vector<uint8_t> out(HeaderSize(channels), 0);
    uint8_t* p = out.data();
    std::memcpy(p, kMagic.data(), kMagic.size());
    PutU16(p + kOffVersion, version);
    PutU32(p + kOffHeaderSize, static_cast<uint32_t>(out.size()));
    PutU16(p + kOffChannelCount, h.channelCount);
    PutU16(p + kOffSampleFormat, h.sampleFormat);
    PutF64(p + kOffSampleRate, h.sampleRate);
    for (std::size_t c = 0; c < channels; ++c) {
        const ChannelRange r = c < h.ranges.size() ? h.ranges[c] : ChannelRange{};
        PutF64(p + kOffRanges + kHeaderRangeBytes * c, r.upper);
        PutF64(p + kOffRanges + kHeaderRangeBytes * c + 8, r.lower);
    }
    const std::size_t timeOff = kOffRanges + kHeaderRangeBytes * channels;
    PutU64(p + timeOff, static_cast<uint64_t>(h.creationTimeUs));
    PutU32(p + timeOff + 8, Crc32(p, timeOff + 8));
    return out;
}

namespace {

uint8_t CodeByte(int8_t code) {
    return code < 0 ? kUnknownCode : static_cast<uint8_t>(code);
}
int8_t CodeOf(uint8_t byte) {
    return byte == kUnknownCode || byte > 127 ? acq::kUnknown : static_cast<int8_t>(byte);
}

}  // namespace

void EncodeSettings(uint8_t* p, const Acquisition& a, int64_t writtenUs, uint16_t channels) {
    const std::size_t size = SettingsSize(channels);
    std::memset(p, 0, size);
    PutU32(p + kSetOffSize, static_cast<uint32_t>(size));
    PutU32(p + kSetOffAcquisition, a.number);
    PutU64(p + kSetOffWritten, static_cast<uint64_t>(writtenUs));
    PutU32(p + kSetOffRecordLength, static_cast<uint32_t>(a.recordLength));
    PutU32(p + kSetOffPostSamples, static_cast<uint32_t>(a.postSamples));
    p[kSetOffMeasureMode] = CodeByte(a.measureMode);
    p[kSetOffTriggerSource] = CodeByte(a.triggerSource);
    p[kSetOffTriggerSlope] = CodeByte(a.triggerSlope);
    for (std::size_t c = 0; c < channels; ++c) {
        uint8_t* q = p + kSetOffChannels + kSettingsChannelBytes * c;
        const AcquisitionChannel ch = c < a.channel.size() ? a.channel[c] : AcquisitionChannel{};
        PutF64(q + kSetChOffSensitivity, ch.sensitivity);
        PutF64(q + kSetChOffTriggerLevel, ch.triggerLevel);
        PutF64(q + kSetChOffTriggerHysteresis, ch.triggerHysteresis);
        q[kSetChOffCoupling] = CodeByte(ch.coupling);
    }
}

void DecodeSettings(const uint8_t* p, uint16_t channels, Acquisition& a, int64_t& writtenUs) {
    a.number = GetU32(p + kSetOffAcquisition);
    writtenUs = static_cast<int64_t>(GetU64(p + kSetOffWritten));
    a.recordLength = static_cast<int32_t>(GetU32(p + kSetOffRecordLength));
    a.postSamples = static_cast<int32_t>(GetU32(p + kSetOffPostSamples));
    a.measureMode = CodeOf(p[kSetOffMeasureMode]);
    a.triggerSource = CodeOf(p[kSetOffTriggerSource]);
    a.triggerSlope = CodeOf(p[kSetOffTriggerSlope]);
    for (std::size_t c = 0; c < a.channel.size(); ++c) {
        if (c >= channels) {
            a.channel[c] = {};
            continue;
        }
        const uint8_t* q = p + kSetOffChannels + kSettingsChannelBytes * c;
        a.channel[c].sensitivity = GetF64(q + kSetChOffSensitivity);
        a.channel[c].triggerLevel = GetF64(q + kSetChOffTriggerLevel);
        a.channel[c].triggerHysteresis = GetF64(q + kSetChOffTriggerHysteresis);
        a.channel[c].coupling = CodeOf(q[kSetChOffCoupling]);
    }
}

std::size_t EncodeRecordHead(uint8_t* p, const RecordFields& f, const char* comment,
                             std::size_t commentBytes, uint32_t frames, uint16_t channels,
                             uint16_t version) {
    PutU32(p + kRecOffMarker, kRecordMarker);
    PutU32(p + kRecOffNumber, f.number);
    PutU64(p + kRecOffTime, static_cast<uint64_t>(f.timeUs));
    PutF64(p + kRecOffSampleRate, f.sampleRate);
    PutU32(p + kRecOffEventMark, static_cast<uint32_t>(f.eventMark));
    PutU32(p + kRecOffCommentBytes, static_cast<uint32_t>(commentBytes));
    PutU32(p + kRecOffFrames, frames);
    const std::size_t head = static_cast<std::size_t>(RecordHeadSize(channels, version));
    if (version >= 2) EncodeSettings(p + kRecordHeaderBytes, f.acquisition, f.writtenUs, channels);
    if (commentBytes > 0) std::memcpy(p + head, comment, commentBytes);
    return head + commentBytes;
}

std::size_t EncodeRecord(uint8_t* p, const RecordFields& f, const char* comment,
                         std::size_t commentBytes, const int16_t* samples, uint32_t frames,
                         uint16_t channels, uint16_t version) {
    const std::size_t sampleBytes =
        2 * static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
    const std::size_t total =
        static_cast<std::size_t>(RecordSize(commentBytes, frames, channels, version));
    uint8_t* s = p + EncodeRecordHead(p, f, comment, commentBytes, frames, channels, version);
    if constexpr (std::endian::native == std::endian::little) {
        if (sampleBytes > 0) std::memcpy(s, samples, sampleBytes);
    } else {
        for (std::size_t i = 0; i < sampleBytes / 2; ++i) {
            PutU16(s + 2 * i, static_cast<uint16_t>(samples[i]));
        }
    }
    const std::size_t crcOff = total - kRecordCrcBytes;
    PutU32(p + crcOff, Crc32(p, crcOff));
    return total;
}

}  // namespace rv8
