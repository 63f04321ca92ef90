// Fuzzes the camera's frame reader over a frame section whose every field a writer decides.
// The input is a script of steps, each an opcode byte and fixed-width arguments:
//
//   0 fill      u8 size kind, u32 n   fill a sample: a whole frame's size (kind 0), n modulo
//                                     the frame size (1), up to 4 KiB more than a frame (2),
//                                     or under 64 bytes (3)
//   1 clock     i16 ms                move the clock on, or back
//   2 set word  u8 place, u32 value   rewrite one 32-bit word of the header (places 0-15:
//                                     magic, version, latest slot at 6, frame counter at 8
//                                     and 9) or of a slot's header (16 + 16 * slot: its
//                                     sequence, then words the camera does not read)
//   3 add word  u8 place, i8 delta    add to such a word: a writer stepping a sequence or
//                                     the counter
//   4 pixel     u8 slot, u32 index,   rewrite one pixel of a slot
//               u32 value
//   5 presence  u8 present            make the section absent (bit 0 clear) or present
//
// Every input starts from a section with one frame published in slot 0. The section lives in
// guarded memory of exactly the layout's size, read-only for the reader; each sample is a
// buffer of exactly its size. After every fill:
//   - the data length is min(size, frame size), and nothing past it is touched;
//   - the sample holds either the pixels of one slot, whole, or the fill colour over
//     floor(length / 4) pixels with the remainder untouched;
//   - which of the two, and why, is what the reader's rules give for the section as the
//     script left it: open attempts at most every 500 ms, the header checked once, a small
//     buffer, nothing published, a bad latest slot, an odd sequence, a counter unchanged for
//     100 ms. The rules below are the oracle; they read the section through the writer's view.

#include "frame_reader.h"

#include "camera_format.h"
#include "frame_section_layout.h"
#include "fuzz_harness.h"
#include "guarded_memory.h"
#include "in_memory_section.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace tolvek::vcam;
using fuzzing::require;

constexpr std::size_t kOversize = 4096;
constexpr std::size_t kPixelsPerFrame = kFrameSize / kBytesPerPixel;
constexpr std::size_t kHeaderWords = kFrameHeaderSize / 4;
constexpr std::size_t kSlotHeaderWords = kFrameSlotHeaderSize / 4;
constexpr std::size_t kWordPlaces = kHeaderWords + kFrameSlotCount * kSlotHeaderWords;
constexpr std::byte kUntouched{0xA5};
const MonotonicTime kStart = MonotonicTime{} + 1h;

// The fill colour as the bytes a sample must hold, written out independently of the reader.
constexpr std::array<std::byte, 4> kFillPixel{std::byte{0x1C}, std::byte{0x1A}, std::byte{0x18},
                                              std::byte{0xFF}};

std::size_t word_place_offset(std::uint8_t place)
{
    const std::size_t word = place % kWordPlaces;
    if (word < kHeaderWords) {
        return word * 4;
    }
    const std::size_t slot_word = word - kHeaderWords;
    return frame_slot_offset(static_cast<std::uint32_t>(slot_word / kSlotHeaderWords)) +
           slot_word % kSlotHeaderWords * 4;
}

// A pixel that differs between slots and from pixel to pixel, and is never the fill colour
// (whose fourth byte is 0xFF).
std::uint32_t original_pixel(std::uint32_t slot, std::size_t index)
{
    return ((static_cast<std::uint32_t>(index) * 0x9E37'79B1u) ^ ((slot + 1) * 0x85EB'CA6Bu)) &
           0x7FFF'FFFFu;
}

template <class T>
T read_word(const std::byte* base, std::size_t offset)
{
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

template <class T>
void write_word(std::byte* base, std::size_t offset, T value)
{
    std::memcpy(base + offset, &value, sizeof value);
}

// The frame section, the reader's opener over it, and what the scripts change in it.
class FrameSection {
public:
    FrameSection() : memory_(kFrameSectionSize, ViewAccess::read_only)
    {
        for (std::uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
            for (std::size_t index = 0; index < kPixelsPerFrame; ++index) {
                write_word(writer(), pixel_offset(slot, index), original_pixel(slot, index));
            }
        }
    }

    std::byte* writer() const { return memory_.writer(); }
    testing::InMemorySection& opened() { return opened_; }

    // Back to one frame published in slot 0, with every pixel as it was made.
    void reset()
    {
        for (const auto& [offset, pixel] : changed_pixels_) {
            write_word(writer(), offset, pixel);
        }
        changed_pixels_.clear();
        std::memset(writer(), 0, kFrameHeaderSize);
        for (std::uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
            std::memset(writer() + frame_slot_offset(slot), 0, kFrameSlotHeaderSize);
        }
        write_word(writer(), kFrameMagicOffset, kFrameSectionMagic);
        write_word(writer(), kFrameVersionOffset, kFrameSectionVersion);
        write_word(writer(), kFrameCounterOffset, std::uint64_t{1});
        set_present(true);
    }

    // An absent section is one the opener cannot open.
    void set_present(bool present)
    {
        present_ = present;
        opened_.set_available(present);
    }
    [[nodiscard]] bool present() const { return present_; }

    void change_pixel(std::uint32_t slot, std::size_t index, std::uint32_t pixel)
    {
        const std::size_t offset = pixel_offset(slot, index);
        changed_pixels_.emplace_back(offset, original_pixel(slot, index));
        write_word(writer(), offset, pixel);
    }

    static std::size_t pixel_offset(std::uint32_t slot, std::size_t index)
    {
        return slot_pixels_offset(slot) + index * kBytesPerPixel;
    }

private:
    fuzzing::GuardedSection memory_;
    testing::InMemorySection opened_{memory_.view_under_test()};
    std::vector<std::pair<std::size_t, std::uint32_t>> changed_pixels_;
    bool present_ = true;
};

// The reader's rules, applied to the section as the writer's view shows it.
class ReaderRules {
public:
    // The opener's count goes on across inputs; the rules count from where it stands.
    explicit ReaderRules(FrameSection& section)
        : section_(section), open_attempts_(section.opened().open_attempts())
    {
    }

    SampleContent expected(std::size_t size, MonotonicTime now)
    {
        const std::byte* bytes = section_.writer();
        if (!open_) {
            if (now < next_open_attempt_) {
                return SampleContent::fill_no_section;
            }
            next_open_attempt_ = now + 500ms;
            ++open_attempts_;
            if (!section_.present() ||
                read_word<std::uint32_t>(bytes, kFrameMagicOffset) != kFrameSectionMagic ||
                read_word<std::uint32_t>(bytes, kFrameVersionOffset) != kFrameSectionVersion) {
                return SampleContent::fill_no_section;
            }
            open_ = true;
            last_change_ = now;
        }
        if (size < kFrameSize) {
            return SampleContent::fill_small_buffer;
        }
        const auto counter = read_word<std::uint64_t>(bytes, kFrameCounterOffset);
        if (counter == 0) {
            return SampleContent::fill_nothing_published;
        }
        const auto slot = read_word<std::uint32_t>(bytes, kLatestSlotOffset);
        if (slot >= kFrameSlotCount) {
            return SampleContent::fill_bad_latest_slot;
        }
        if (read_word<std::uint32_t>(bytes, slot_sequence_offset(slot)) % 2 != 0) {
            return SampleContent::fill_slot_busy;
        }
        if (counter != last_seen_counter_) {
            last_seen_counter_ = counter;
            last_change_ = now;
            return SampleContent::frame;
        }
        return now - last_change_ < 100ms ? SampleContent::frame : SampleContent::fill_stale;
    }

    [[nodiscard]] bool open() const { return open_; }
    [[nodiscard]] int open_attempts() const { return open_attempts_; }

private:
    FrameSection& section_;
    bool open_ = false;
    MonotonicTime next_open_attempt_ = kStart;
    MonotonicTime last_change_ = kStart;
    std::uint64_t last_seen_counter_ = 0;
    int open_attempts_ = 0;
};

// A frame of the fill colour, to compare samples with.
const std::vector<std::byte>& fill_colour_frame()
{
    static const std::vector<std::byte> frame = [] {
        std::vector<std::byte> bytes(kFrameSize);
        for (std::size_t offset = 0; offset < kFrameSize; offset += kBytesPerPixel) {
            std::memcpy(bytes.data() + offset, kFillPixel.data(), kBytesPerPixel);
        }
        return bytes;
    }();
    return frame;
}

bool untouched(std::span<const std::byte> bytes)
{
    for (const std::byte byte : bytes) {
        if (byte != kUntouched) {
            return false;
        }
    }
    return true;
}

std::size_t sample_size(std::uint8_t kind, std::uint32_t n)
{
    switch (kind % 4) {
    case 0:
        return kFrameSize;
    case 1:
        return n % kFrameSize;
    case 2:
        return kFrameSize + n % (kOversize + 1);
    default:
        return n % 64;
    }
}

// One fill of a sample of `size` bytes, checked against the rules.
void fill_and_check(FrameReader& reader, ReaderRules& rules, FrameSection& section,
                    fuzzing::ExactBuffer& samples, std::size_t size, MonotonicTime now)
{
    const std::span<std::byte> sample = samples.take(size);
    std::memset(sample.data(), static_cast<int>(kUntouched), sample.size());
    const SampleContent expected = rules.expected(size, now);

    const FilledSample filled = reader.fill_sample(sample.data(), sample.size(), now);

    const std::size_t length = std::min(size, kFrameSize);
    require(filled.data_length == length, "the data length is min(size, frame size)");
    require(filled.content == expected, "the answer is the one the reader's rules give");
    require(section.opened().open_attempts() == rules.open_attempts(),
            "open attempts are made exactly when the rules allow one");
    require(reader.is_open() == rules.open() && section.opened().live_views() == rules.open(),
            "the reader holds one view while open and none otherwise");
    if (filled.content == SampleContent::frame) {
        const auto slot = read_word<std::uint32_t>(section.writer(), kLatestSlotOffset);
        require(std::memcmp(sample.data(), section.writer() + slot_pixels_offset(slot),
                            kFrameSize) == 0,
                "a frame is the latest slot's pixels, whole");
        require(untouched(sample.subspan(kFrameSize)), "nothing past a frame is touched");
        return;
    }
    const std::size_t pixels = length / kBytesPerPixel;
    require(std::memcmp(sample.data(), fill_colour_frame().data(), pixels * kBytesPerPixel) == 0,
            "the fill colour covers every whole pixel");
    require(untouched(sample.subspan(pixels * kBytesPerPixel)),
            "the remainder and the bytes past the data length are untouched");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static FrameSection section;
    static fuzzing::ExactBuffer samples(kFrameSize + kOversize);
    section.reset();

    fuzzing::WriterScript script(data, size);
    MonotonicTime now = kStart;
    FrameReader reader{section.opened().opener(), kStart};
    ReaderRules rules(section);
    while (!script.done()) {
        switch (script.take<std::uint8_t>() % 6) {
        case 0: {
            const auto kind = script.take<std::uint8_t>();
            const std::size_t sample = sample_size(kind, script.take<std::uint32_t>());
            fill_and_check(reader, rules, section, samples, sample, now);
            break;
        }
        case 1:
            now += std::chrono::milliseconds(script.take<std::int16_t>());
            break;
        case 2: {
            const std::size_t offset = word_place_offset(script.take<std::uint8_t>());
            write_word(section.writer(), offset, script.take<std::uint32_t>());
            break;
        }
        case 3: {
            const std::size_t offset = word_place_offset(script.take<std::uint8_t>());
            const auto delta = static_cast<std::uint32_t>(script.take<std::int8_t>());
            write_word(section.writer(), offset,
                       read_word<std::uint32_t>(section.writer(), offset) + delta);
            break;
        }
        case 4: {
            const std::uint32_t slot = script.take<std::uint8_t>() % kFrameSlotCount;
            const std::size_t index = script.take<std::uint32_t>() % kPixelsPerFrame;
            section.change_pixel(slot, index, script.take<std::uint32_t>());
            break;
        }
        default:
            section.set_present((script.take<std::uint8_t>() & 1) != 0);
            break;
        }
    }
    reader.close();
    require(section.opened().live_views() == 0, "closing unmaps the view");
    return 0;
}
