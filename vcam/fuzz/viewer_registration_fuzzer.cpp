// Fuzzes the camera's viewer registration: two cameras keep their slots in a viewer record
// whose every field a writer decides. The input is a script of steps, each an opcode byte and
// fixed-width arguments:
//
//   0 refresh   u8 camera, u16 ms     the clock moves on by ms, then that camera refreshes
//   1 restart   u8 camera             that camera's worker ends (release) and a new one starts
//   2 set word  u8 place, u64 value   rewrite one 64-bit word of the record: places 0-7 the
//                                     header (magic and version in 0, id counter in 2),
//                                     8 + 8 * slot a slot (owner, heartbeat, then words the
//                                     camera does not touch)
//   3 owner     u8 slot, u8 whose     give a slot to nobody (whose 0), to camera 0 or 1's
//                                     current id (1, 2), or to a stranger (3)
//   4 presence  u8 present            make the record absent (bit 0 clear) or present
//
// Every input starts from a valid, empty record. The record lives in guarded memory of
// exactly 576 bytes, and the checks compare it before and after each step of a camera:
//   - a refresh changes nothing but the id counter (by one, when it claims), the owner of one
//     free slot (to the new id, which is never 0, and only when it then holds that slot),
//     and the heartbeat of the slot it then holds (to the refresh's tick count);
//   - a camera that holds a slot sees its id there, keeps a slot that still shows its id,
//     and comes away from a claim with a slot whenever one was free;
//   - open and claim attempts are at least 500 ms apart;
//   - a release frees the camera's own slot if it still shows its id, and changes nothing
//     else; the record is unmapped afterwards.

#include "viewer_registration.h"

#include "fuzz_harness.h"
#include "guarded_memory.h"
#include "in_memory_section.h"
#include "viewer_section_layout.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

namespace {

using namespace tolvek::vcam;
using fuzzing::require;

constexpr std::size_t kRecordWords = kViewerSectionSize / 8;
constexpr std::uint64_t kStranger = 0xF00D;
constexpr std::uint64_t kStartTick = 1'000'000;

using Record = std::array<std::uint64_t, kRecordWords>;

std::size_t owner_word(std::uint32_t slot)
{
    return viewer_slot_owner_offset(slot) / 8;
}

std::size_t heartbeat_word(std::uint32_t slot)
{
    return viewer_slot_heartbeat_offset(slot) / 8;
}

constexpr std::size_t kCounterWord = kViewerIdCounterOffset / 8;

// The record, and what each camera's opener over it has done.
class ViewerRecord {
public:
    Record read() const
    {
        Record record;
        std::memcpy(record.data(), memory_.writer(), kViewerSectionSize);
        return record;
    }

    void write_word(std::size_t word, std::uint64_t value)
    {
        std::memcpy(memory_.writer() + word * 8, &value, sizeof value);
    }

    // Back to a valid record with every slot free.
    void reset()
    {
        std::memset(memory_.writer(), 0, kViewerSectionSize);
        const std::uint32_t header[] = {kViewerSectionMagic, kViewerSectionVersion};
        std::memcpy(memory_.writer(), header, sizeof header);
        set_present(true);
    }

    void set_present(bool present)
    {
        for (testing::InMemorySection& opened : opened_) {
            opened.set_available(present);
        }
    }

    testing::InMemorySection& opened_by(int camera) { return opened_[camera]; }

private:
    fuzzing::GuardedSection memory_{kViewerSectionSize, ViewAccess::read_write};
    // One opener per camera, so that each one's attempts and views are counted apart.
    std::array<testing::InMemorySection, 2> opened_{
        testing::InMemorySection{memory_.view_under_test()},
        testing::InMemorySection{memory_.view_under_test()}};
};

// One camera: its registration, and when it last tried to open the record or claim a slot.
struct Camera {
    std::unique_ptr<ViewerRegistration> registration;
    std::optional<std::uint64_t> last_attempt;
};

void refresh_and_check(ViewerRecord& record, Camera& camera, testing::InMemorySection& opened,
                       std::uint64_t now)
{
    ViewerRegistration& registration = *camera.registration;
    const Record before = record.read();
    const bool held = registration.holds_slot();
    const std::uint32_t held_slot = registration.slot_index();
    const std::uint64_t held_id = registration.viewer_id();
    const int attempts_before = opened.open_attempts();

    registration.refresh(now);

    const Record after = record.read();
    const bool claimed = after[kCounterWord] != before[kCounterWord];
    require(!claimed || after[kCounterWord] == before[kCounterWord] + 1,
            "a claim adds one to the id counter");
    require(!claimed || registration.viewer_id() == after[kCounterWord],
            "the id is the counter's value after the addition");
    if (claimed || opened.open_attempts() != attempts_before) {
        require(!camera.last_attempt || now >= *camera.last_attempt + 500,
                "open and claim attempts are at least 500 ms apart");
        camera.last_attempt = now;
    }
    bool free_slot_before = false;
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        free_slot_before = free_slot_before || before[owner_word(slot)] == 0;
    }
    const auto holds_this = [&](std::uint32_t slot) {
        return registration.holds_slot() && registration.slot_index() == slot;
    };
    // The record as it must be: as before, but for the words whose change is checked here.
    Record expected = before;
    expected[kCounterWord] = after[kCounterWord];
    for (std::uint32_t slot = 0; slot < kViewerSlotCount; ++slot) {
        const std::size_t owner = owner_word(slot);
        const std::size_t heartbeat = heartbeat_word(slot);
        require(after[owner] == before[owner] ||
                    (before[owner] == 0 && claimed && after[owner] == registration.viewer_id() &&
                     holds_this(slot)),
                "an owner changes only from free to the new id of a claim that won it");
        require(after[heartbeat] == before[heartbeat] ||
                    (after[heartbeat] == now && holds_this(slot)),
                "a heartbeat is written only into the slot held, with the tick count");
        expected[owner] = after[owner];
        expected[heartbeat] = after[heartbeat];
    }
    require(after == expected, "a refresh writes only the id counter, an owner and a heartbeat");
    if (registration.holds_slot()) {
        const std::uint32_t slot = registration.slot_index();
        require(slot < kViewerSlotCount, "the slot held is one of the eight");
        require(registration.viewer_id() != 0, "0 marks a free slot and is nobody's id");
        require(after[owner_word(slot)] == registration.viewer_id() &&
                    after[heartbeat_word(slot)] == now,
                "the slot held shows the camera's id and this refresh's heartbeat");
    }
    if (held && before[owner_word(held_slot)] == held_id) {
        require(registration.holds_slot() && registration.slot_index() == held_slot &&
                    registration.viewer_id() == held_id,
                "a slot that still shows the camera's id stays held");
    }
    if (claimed && registration.viewer_id() != 0 && free_slot_before) {
        require(registration.holds_slot(), "a claim with a slot free comes away with a slot");
    }
    require(opened.live_views() == (registration.is_open() ? 1 : 0),
            "one view while open, none otherwise");
}

void restart_and_check(ViewerRecord& record, Camera& camera, testing::InMemorySection& opened)
{
    ViewerRegistration& registration = *camera.registration;
    const Record before = record.read();
    const bool held = registration.holds_slot();
    const std::uint32_t slot = registration.slot_index();
    const std::uint64_t id = registration.viewer_id();

    registration.release();

    Record expected = before;
    if (held && before[owner_word(slot)] == id) {
        expected[owner_word(slot)] = 0;
    }
    require(record.read() == expected,
            "a release frees its own slot if it still shows its id, and nothing else");
    require(!registration.is_open() && opened.live_views() == 0, "a release unmaps the record");
    camera.registration = std::make_unique<ViewerRegistration>(opened.opener());
    camera.last_attempt.reset();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ViewerRecord record;
    record.reset();

    std::array<Camera, 2> cameras;
    for (int index = 0; index < 2; ++index) {
        cameras[index].registration =
            std::make_unique<ViewerRegistration>(record.opened_by(index).opener());
    }
    fuzzing::WriterScript script(data, size);
    std::uint64_t now = kStartTick;
    while (!script.done()) {
        switch (script.take<std::uint8_t>() % 5) {
        case 0: {
            const int camera = script.take<std::uint8_t>() & 1;
            now += script.take<std::uint16_t>();
            refresh_and_check(record, cameras[camera], record.opened_by(camera), now);
            break;
        }
        case 1: {
            const int camera = script.take<std::uint8_t>() & 1;
            restart_and_check(record, cameras[camera], record.opened_by(camera));
            break;
        }
        case 2: {
            const std::size_t word = script.take<std::uint8_t>() % kRecordWords;
            record.write_word(word, script.take<std::uint64_t>());
            break;
        }
        case 3: {
            const std::uint32_t slot = script.take<std::uint8_t>() % kViewerSlotCount;
            const int whose = script.take<std::uint8_t>() % 4;
            const std::uint64_t owner = whose == 0   ? 0
                                        : whose == 3 ? kStranger
                                                     : cameras[whose - 1].registration->viewer_id();
            record.write_word(owner_word(slot), owner);
            break;
        }
        default:
            record.set_present((script.take<std::uint8_t>() & 1) != 0);
            break;
        }
    }
    for (int index = 0; index < 2; ++index) {
        restart_and_check(record, cameras[index], record.opened_by(index));
    }
    return 0;
}
