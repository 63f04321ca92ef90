// The pin and media type enumerators through their COM interfaces, as a host walks them:
// Next, Skip, Reset and Clone at every position, the items they hand out, and their count in
// the module's live objects.

#include "enumerators_win.h"

#include "camera_test_support_win.h"
#include "module_counters.h"

#include <gtest/gtest.h>

namespace tolvek::vcam {
namespace {

using testing::Camera;
using testing::ComApartment;

// One test body for both enumerators: what an item is and how it is checked and freed.
struct PinItems {
    using Enumerator = IEnumPins;
    using Item = IPin*;
    static ComPtr<IEnumPins> make(const Camera& camera)
    {
        ComPtr<IEnumPins> enumerator;
        EXPECT_EQ(camera.filter->EnumPins(enumerator.put()), S_OK);
        return enumerator;
    }
    static bool is_expected(const Camera& camera, IPin* item) { return item == camera.pin.get(); }
    static void free(IPin* item) { item->Release(); }
};

struct MediaTypeItems {
    using Enumerator = IEnumMediaTypes;
    using Item = AM_MEDIA_TYPE*;
    static ComPtr<IEnumMediaTypes> make(const Camera& camera)
    {
        ComPtr<IEnumMediaTypes> enumerator;
        EXPECT_EQ(camera.pin->EnumMediaTypes(enumerator.put()), S_OK);
        return enumerator;
    }
    static bool is_expected(const Camera&, AM_MEDIA_TYPE* item)
    {
        return testing::is_camera_media_type(*item, item->pbFormat);
    }
    static void free(AM_MEDIA_TYPE* item) { MediaTypeDeleter{}(item); }
};

template <class Items>
class EnumeratorTest : public ::testing::Test {
protected:
    using Item = typename Items::Item;

    // Next(count) into a fresh array; gives the result and checks and frees what came.
    HRESULT next(typename Items::Enumerator* walker, ULONG count, ULONG& fetched)
    {
        Item items[4] = {};
        fetched = 99;
        const HRESULT result = walker->Next(count, items, &fetched);
        for (ULONG index = 0; index < 4; ++index) {
            if (index < fetched && fetched != 99) {
                EXPECT_TRUE(Items::is_expected(camera, items[index]));
                Items::free(items[index]);
            } else {
                EXPECT_EQ(items[index], nullptr) << "nothing written past what was fetched";
            }
        }
        return result;
    }

    // True when the enumerator stands at its start: one item comes, and then no more.
    bool at_start(typename Items::Enumerator* walker)
    {
        ULONG fetched = 0;
        const HRESULT first = next(walker, 1, fetched);
        if (first != S_OK || fetched != 1) {
            return false;
        }
        walker->Reset();
        return true;
    }

    bool at_end(typename Items::Enumerator* walker)
    {
        ULONG fetched = 0;
        return next(walker, 1, fetched) == S_FALSE && fetched == 0;
    }

    ComApartment apartment;
    Camera camera = testing::make_camera();
    ComPtr<typename Items::Enumerator> enumerator = Items::make(camera);
};

using ItemKinds = ::testing::Types<PinItems, MediaTypeItems>;
TYPED_TEST_SUITE(EnumeratorTest, ItemKinds);

TYPED_TEST(EnumeratorTest, next_hands_out_the_one_item_once_until_reset)
{
    ULONG fetched = 0;
    EXPECT_EQ(this->next(this->enumerator.get(), 1, fetched), S_OK);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(this->next(this->enumerator.get(), 1, fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(this->enumerator->Reset(), S_OK);
    EXPECT_EQ(this->next(this->enumerator.get(), 1, fetched), S_OK);
    EXPECT_EQ(fetched, 1u);
}

TYPED_TEST(EnumeratorTest, next_for_more_than_is_left_gives_what_is_left_and_s_false)
{
    ULONG fetched = 0;
    EXPECT_EQ(this->next(this->enumerator.get(), 4, fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(this->next(this->enumerator.get(), 0, fetched), S_OK) << "nothing asked, all given";
    EXPECT_EQ(fetched, 0u);

    typename TestFixture::Item item{};
    EXPECT_EQ(this->enumerator->Reset(), S_OK);
    EXPECT_EQ(this->enumerator->Next(1, &item, nullptr), S_OK) << "one item needs no count";
    TypeParam::free(item);
}

TYPED_TEST(EnumeratorTest, next_refuses_null_arrays_and_a_missing_count_for_several)
{
    typename TestFixture::Item items[2] = {};
    EXPECT_EQ(this->enumerator->Next(1, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(this->enumerator->Next(2, items, nullptr), E_INVALIDARG);
    EXPECT_TRUE(this->at_start(this->enumerator.get())) << "the refusals moved nothing";
}

TYPED_TEST(EnumeratorTest, skip_stops_at_the_end_and_says_when_it_was_cut_short)
{
    EXPECT_EQ(this->enumerator->Skip(1), S_OK);
    EXPECT_TRUE(this->at_end(this->enumerator.get()));

    EXPECT_EQ(this->enumerator->Reset(), S_OK);
    EXPECT_EQ(this->enumerator->Skip(2), S_FALSE);
    EXPECT_TRUE(this->at_end(this->enumerator.get()));
    EXPECT_EQ(this->enumerator->Skip(0), S_OK);
    EXPECT_EQ(this->enumerator->Skip(0xFFFF'FFFFu), S_FALSE);
    EXPECT_TRUE(this->at_end(this->enumerator.get())) << "no wrap-around back to the start";
}

TYPED_TEST(EnumeratorTest, a_clone_starts_where_its_source_stood_and_moves_on_its_own)
{
    ComPtr<typename TypeParam::Enumerator> fresh_clone;
    ASSERT_EQ(this->enumerator->Clone(fresh_clone.put()), S_OK);
    EXPECT_TRUE(this->at_start(fresh_clone.get()));

    EXPECT_EQ(this->enumerator->Skip(1), S_OK);
    ComPtr<typename TypeParam::Enumerator> clone_at_end;
    ASSERT_EQ(this->enumerator->Clone(clone_at_end.put()), S_OK);
    EXPECT_TRUE(this->at_end(clone_at_end.get()));
    EXPECT_EQ(clone_at_end->Reset(), S_OK);
    EXPECT_TRUE(this->at_end(this->enumerator.get())) << "the source did not move";
    EXPECT_TRUE(this->at_start(clone_at_end.get()));
    EXPECT_EQ(this->enumerator->Clone(nullptr), E_POINTER);
}

TYPED_TEST(EnumeratorTest, every_enumerator_and_clone_counts_as_a_live_object)
{
    const std::int32_t before = live_objects.load();
    ComPtr<typename TypeParam::Enumerator> clone;
    ASSERT_EQ(this->enumerator->Clone(clone.put()), S_OK);
    EXPECT_EQ(live_objects.load(), before + 1);
    clone.reset();
    this->enumerator.reset();
    EXPECT_EQ(live_objects.load(), before - 1);
}

TEST(PinEnumerator, holds_its_own_reference_to_the_pin_for_its_whole_life)
{
    ComApartment apartment;
    const Camera camera = testing::make_camera();
    const ULONG before = testing::reference_count(camera.pin.get());
    ComPtr<IEnumPins> enumerator = PinItems::make(camera);
    ComPtr<IEnumPins> clone;
    ASSERT_EQ(enumerator->Clone(clone.put()), S_OK);
    EXPECT_EQ(testing::reference_count(camera.pin.get()), before + 2);
    enumerator.reset();
    clone.reset();
    EXPECT_EQ(testing::reference_count(camera.pin.get()), before);
}

TEST(MediaTypeEnumerator, each_media_type_is_a_separate_allocation_with_its_own_format_block)
{
    ComApartment apartment;
    const Camera camera = testing::make_camera();
    ComPtr<IEnumMediaTypes> enumerator = MediaTypeItems::make(camera);
    AM_MEDIA_TYPE* first = nullptr;
    AM_MEDIA_TYPE* second = nullptr;
    ASSERT_EQ(enumerator->Next(1, &first, nullptr), S_OK);
    ASSERT_EQ(enumerator->Reset(), S_OK);
    ASSERT_EQ(enumerator->Next(1, &second, nullptr), S_OK);
    EXPECT_NE(first, second);
    EXPECT_NE(first->pbFormat, second->pbFormat);
    MediaTypeDeleter{}(first);
    EXPECT_TRUE(testing::is_camera_media_type(*second, second->pbFormat));
    MediaTypeDeleter{}(second);
}

} // namespace
} // namespace tolvek::vcam
